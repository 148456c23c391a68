// A Python class described as a table: name, constructor, fields, methods, repr, equality and,
// for enumerations, members. The table builds the heap type once and lives for the process.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "describe/record.hpp"
#include "python/toolkit/arguments.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/described.hpp"
#include "python/toolkit/fields.hpp"
#include "python/toolkit/infos.hpp"

namespace vorn::py {

PyObject* field_getter(PyObject* self, void* closure) noexcept;
int field_setter(PyObject* self, PyObject* value, void* closure) noexcept;

// "Name(a=1.0, b='x')": the class's name and each field as its repr.
PyObject* fields_repr(PyObject* self, const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept;
// The hash of the tuple of the fields' values, for records that never change.
Py_hash_t fields_hash(PyObject* self, const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept;

template <class T>
struct DescribedRepr {
    static PyObject* call(PyObject* self) noexcept { return fields_repr(self, RecordFields<T>::list()); }
};

template <class T>
struct DescribedHash {
    static Py_hash_t call(PyObject* self) noexcept { return fields_hash(self, RecordFields<T>::list()); }
};

// Records are equal when every described field is.
template <describe::Described T>
bool described_equal(const T& a, const T& b) {
    bool equal = true;
    describe::for_each_field<T>([&](const auto& field) { equal = equal && field.get(a) == field.get(b); });
    return equal;
}

// What reads a field, as the stubs and the companion's table of inputs give it.
std::vector<DescribedItem::Reading> readings_of(const describe::Readings& readings);

// "the meaning, in unit": a field's one-line text, as its attribute's docstring.
std::string field_sentence(std::string_view meaning, std::string_view unit);

// The part of a class table that does not depend on its C++ type: the texts, slots and description it
// gathers, and the heap type it builds from them. It is compiled once, in class_table.cpp; each class's
// table adds only the entry points of its type.
class UntypedTable {
public:
    UntypedTable(const UntypedTable&) = delete;
    UntypedTable& operator=(const UntypedTable&) = delete;

protected:
    UntypedTable(const char* module, const char* name);
    ~UntypedTable();

    // The entry points of a type that depend on its C++ type.
    struct TypeEntries {
        Py_ssize_t basic_size = 0;
        destructor dealloc = nullptr;
        PyCFunction set_state = nullptr;    // records pickled as their fields
        PyCFunction enum_reduce = nullptr;  // enumerations
        hashfunc hash = nullptr;
        std::vector<std::pair<KeptRef, FieldAccess*>>* fields = nullptr;
        PyObject* (*member)(PyTypeObject*, long long value) = nullptr;  // an enumeration's member
    };

    void set_constructor(newfunc make, PyCFunction reduce, const Signature& signature, bool text_signature);
    void add_field(std::unique_ptr<FieldAccess> access, std::string_view name, std::string_view meaning,
                   std::string_view unit, DescribedItem item);
    void add_method(const char* name, PyCFunction entry, bool is_static, const Signature& signature,
                    const Params& names, const std::vector<std::string>& types, std::string returns, const char* doc);
    void add_member(std::string_view name, long long value, std::string_view meaning);
    void set_summary(const char* text);
    void set_frozen();
    void set_subclassable();
    void set_attribute_doc(const char* name, const char* doc);
    // Builds the type; nullptr with the Python error set on failure.
    PyTypeObject* build_type(const TypeEntries& entries) noexcept;

    // A constructor parameter or a field, from its description and its types as the stubs give them.
    // The texts come as functions, so that each class instantiates calls rather than the making of strings.
    using Text = std::string (*)();
    static DescribedItem field_item(std::string_view name, Text read_type, Text write_type, std::string_view meaning,
                                    std::string_view unit, const describe::Readings& readings);
    // A described constructor's parameter from its field's item, with the default an omitted one leaves.
    static DescribedItem parameter_item(DescribedItem item, describe::Parameter role, Text default_text);

    std::string name_;
    PyCFunction reduce_ = nullptr;
    bool opaque_ = false;
    reprfunc repr_ = nullptr;
    richcmpfunc compare_ = nullptr;
    traverseproc traverse_ = nullptr;
    inquiry clear_ = nullptr;
    ClassInfo info_;

private:
    bool record_fields(std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept;
    bool add_members(PyTypeObject* type, PyObject* (*member)(PyTypeObject*, long long)) noexcept;
    const char* keep(std::string text);

    std::string qualified_;
    std::string doc_;
    const char* summary_ = nullptr;
    bool frozen_ = false;
    bool subclassable_ = false;
    newfunc new_ = nullptr;
    std::vector<std::unique_ptr<FieldAccess>> accessors_;
    std::vector<PyGetSetDef> getset_;
    std::vector<std::pair<std::size_t, const char*>> field_docs_;  // index in getset_, the field's sentence
    std::vector<PyMethodDef> methods_;
    std::vector<std::pair<const char*, long long>> members_;
    std::deque<std::string> texts_;
};

template <class T>
class ClassTable : public UntypedTable {
public:
    ClassTable(const char* module, const char* name) : UntypedTable(module, name) {}

    // `Make` is T(*)(Args...); the Python parameters are `names`, optional where Args is std::optional.
    // With `signature` false the class reports no text signature.
    template <auto Make>
    ClassTable& constructor(Params names, bool signature = true) {
        using Call = Constructor<T, Make>;
        Call::signature() = Call::Params::signature(name_ + ".__new__()", names);
        set_constructor(&Call::call, &Reduce<T, Make>::call, Call::signature(), signature);
        info_.constructor = parameter_items(Call::signature(), names, Call::Params::type_texts());
        return *this;
    }

    // The constructor that the description gives: the described fields that are parameters, in order.
    // `Check` (void(const T&), throwing for a record it refuses) runs on every record built.
    template <auto Check = nullptr>
    ClassTable& described_constructor(bool signature = true)
        requires describe::Described<T>
    {
        using Call = DescribedConstructor<T, Check>;
        Call::signature() = Call::make_signature(name_ + ".__new__()");
        set_constructor(&Call::call, &Call::reduce, Call::signature(), signature);
        for_each_parameter<T>([&](const auto& field, std::size_t) {
            using F = std::decay_t<decltype(field)>;
            info_.constructor.push_back(parameter_item(item_of<F>(field), field.parameter, &default_text<T, F>));
        });
        return *this;
    }

    // An attribute for every described field, in the description's order.
    ClassTable& described_fields()
        requires describe::Described<T>
    {
        describe::for_each_field<T>([&](const auto& field) {
            using F = std::decay_t<decltype(field)>;
            add_field(std::make_unique<DescribedField<T, F>>(), field.name, field.meaning, field.unit,
                      item_of<F>(field));
        });
        return *this;
    }

    // A line that says what the class is, after its text signature; the described fields' attributes get
    // their meanings as docstrings too.
    ClassTable& summary(const char* text) {
        set_summary(text);
        return *this;
    }

    // Attributes read only, and a hash from the fields' values when the class has equality: a record that
    // is checked once, when it is built, and compared and kept as a value afterwards.
    ClassTable& frozen() {
        set_frozen();
        return *this;
    }

    // Python classes may derive from this one (adding methods and properties, no state of their own).
    ClassTable& subclassable() {
        set_subclassable();
        return *this;
    }

    // "Name(field=value, ...)", every described field by its repr.
    ClassTable& described_repr()
        requires describe::Described<T>
    {
        repr_ = &DescribedRepr<T>::call;
        return *this;
    }

    // == and != compare every described field.
    ClassTable& described_equality()
        requires describe::Described<T>
    {
        return equality<&described_equal<T>>();
    }

    // The docstring of an attribute described before (most have none).
    ClassTable& attribute_doc(const char* name, const char* doc) {
        set_attribute_doc(name, doc);
        return *this;
    }

    // The members of an enumeration, from its description.
    ClassTable& described_members()
        requires std::is_enum_v<T> && describe::Described<T>
    {
        for (const auto& member : describe::description_of<T>().members) {
            add_member(member.name, static_cast<long long>(member.value), member.meaning);
            EnumMembers<T>::list().push_back(
                {member.value, std::string(member.name), name_ + "." + std::string(member.name)});
        }
        info_.enumeration = true;
        repr_ = &EnumRepr<T>::call;
        return *this;
    }

    // For a class whose objects are more than their fields (the engine, which holds a network): it
    // neither pickles nor copies. Other classes with a constructor do, as their fields.
    ClassTable& opaque() {
        opaque_ = true;
        return *this;
    }

    // `Fn` is R(*)(const T&, Args...) (holds the instance shared) or R(*)(T&, Args...) (exclusive);
    // the Python parameters are `names`, received as Argument<Args> says.
    template <auto Fn>
    ClassTable& method(const char* name, Params names, const char* doc = nullptr) {
        using Call = Method<T, Fn>;
        Call::signature() = Call::Params::signature(name_ + "." + name + "()", names);
        add_method(name, fastcall_entry<Call>(), false, Call::signature(), names, Call::Params::type_texts(),
                   Call::return_text(), doc);
        return *this;
    }

    // `Fn` is R(*)(Args...), called on the class (or an instance) without the instance.
    template <auto Fn>
    ClassTable& static_method(const char* name, Params names, const char* doc = nullptr) {
        using Call = Function<Fn, T>;
        Call::signature() = Call::Params::signature(name_ + "." + name + "()", names);
        add_method(name, fastcall_entry<Call>(), true, Call::signature(), names, Call::Params::type_texts(),
                   Call::return_text(), doc);
        return *this;
    }

    template <auto Fn>
    ClassTable& repr() {
        repr_ = &Repr<T, Fn>::call;
        return *this;
    }

    // Value equality for == and !=; other comparisons and other types give NotImplemented.
    template <auto Equal>
    ClassTable& equality() {
        compare_ = &Compare<T, Equal>::call;
        info_.equality = true;
        return *this;
    }

    // For records holding a Python object (a `Ref` member): lets the cycle collector see it.
    template <auto Member>
    ClassTable& holds_object() {
        traverse_ = &HeldObject<T, Member>::traverse;
        clear_ = &HeldObject<T, Member>::clear;
        return *this;
    }

    // Builds the type; nullptr with the Python error set on failure.
    PyTypeObject* build() noexcept {
        TypeEntries entries;
        entries.basic_size = static_cast<Py_ssize_t>(sizeof(Object<T>));
        entries.dealloc = &Dealloc<T>::call;
        entries.fields = &RecordFields<T>::list();
        if constexpr (std::is_enum_v<T>) {
            entries.enum_reduce = reinterpret_cast<PyCFunction>(&EnumReduce<T>::call);
            entries.member = [](PyTypeObject* type, long long value) {
                return make_instance<T>(type, static_cast<T>(value));
            };
        } else {
            entries.set_state = reinterpret_cast<PyCFunction>(&SetState<T>::call);
        }
        if (compare_) entries.hash = &DescribedHash<T>::call;
        return build_type(entries);
    }

private:
    template <class F>
    static DescribedItem item_of(const F& field) {
        using S = ShapeOf<T, F>;
        return field_item(field.name, &S::read_text, &S::write_text, field.meaning, field.unit, field.readings);
    }
};

// The one type object of T, described into its table on first use and kept for the process.
// On failure returns nullptr with the error set, and tries again next time.
template <class T, class Describe>
PyTypeObject* lazy_type(Describe describe) noexcept {
    static ClassTable<T>* table = nullptr;
    static PyTypeObject* type = nullptr;
    if (type) return type;
    if (!table) {
        table = guarded(
            [&] {
                auto fresh = std::make_unique<ClassTable<T>>(Bound<T>::module, Bound<T>::name);
                describe(*fresh);
                return fresh.release();
            },
            static_cast<ClassTable<T>*>(nullptr));
        if (!table) return nullptr;
    }
    type = table->build();
    if (!type) {
        EnumMembers<T>::list().clear();
        RecordFields<T>::list().clear();
        delete table;
        table = nullptr;
    }
    return type;
}

// Declares the class of a C++ type in a module; its table is defined beside the other classes of its area.
#define VORN_PYTHON_CLASS_IN(Module, Type, PythonName)  \
    template <>                                         \
    struct Bound<Type> {                                \
        static constexpr const char* module = Module;   \
        static constexpr const char* name = PythonName; \
        static PyTypeObject* type() noexcept;           \
    }
#define VORN_PYTHON_CLASS(Type, PythonName) VORN_PYTHON_CLASS_IN("vorn_core", Type, PythonName)

}  // namespace vorn::py
