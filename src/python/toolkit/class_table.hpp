// A Python class described as a table: name, constructor, fields, methods, repr, equality and,
// for enumerations, members. The table builds the heap type once and lives for the process.
#pragma once

#include <deque>
#include <memory>
#include <string>
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

template <class T>
class ClassTable {
public:
    ClassTable(const char* module, const char* name) : name_(name), qualified_(std::string(module) + "." + name) {}

    // `Make` is T(*)(Args...); the Python parameters are `names`, optional where Args is std::optional.
    // With `signature` false the class reports no text signature.
    template <auto Make>
    ClassTable& constructor(Params names, bool signature = true) {
        using Call = Constructor<T, Make>;
        Call::signature() = Call::Params::signature(name_ + ".__new__()", names);
        if (signature) doc_ = name_ + Call::signature().text(false) + "\n--\n\n";
        new_ = &Call::call;
        reduce_ = &Reduce<T, Make>::call;
        info_.constructible = true;
        info_.text_signature = signature;
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
        if (signature) doc_ = name_ + Call::signature().text(false) + "\n--\n\n";
        new_ = &Call::call;
        reduce_ = &Call::reduce;
        info_.constructible = true;
        info_.text_signature = signature;
        for_each_parameter<T>([&](const auto& field, std::size_t) {
            using F = std::decay_t<decltype(field)>;
            DescribedItem item = field_item<F>(field);
            item.read_type = item.write_type;
            item.optional = describe::may_be_omitted(field.parameter);
            item.keyword_only = field.parameter == describe::kKeywordOnly;
            if (item.optional) {
                if (!item.write_type.ends_with(" | None")) item.read_type = item.write_type += " | None";
                item.default_text = default_text<T, F>();
            }
            info_.constructor.push_back(std::move(item));
        });
        return *this;
    }

    // An attribute for every described field, in the description's order.
    ClassTable& described_fields()
        requires describe::Described<T>
    {
        describe::for_each_field<T>([&](const auto& field) {
            using F = std::decay_t<decltype(field)>;
            accessors_.push_back(std::make_unique<DescribedField<T, F>>());
            field_docs_.emplace_back(getset_.size(), keep(field_sentence(field.meaning, field.unit)));
            getset_.push_back(
                {keep(std::string(field.name)), field_getter, field_setter, nullptr, accessors_.back().get()});
            info_.fields.push_back(field_item<F>(field));
        });
        return *this;
    }

    // A line that says what the class is, after its text signature; the described fields' attributes get
    // their meanings as docstrings too.
    ClassTable& summary(const char* text) {
        summary_ = text;
        info_.summary = text;
        return *this;
    }

    // Attributes read only, and a hash from the fields' values when the class has equality: a record that
    // is checked once, when it is built, and compared and kept as a value afterwards.
    ClassTable& frozen() {
        frozen_ = true;
        info_.frozen = true;
        return *this;
    }

    // Python classes may derive from this one (adding methods and properties, no state of their own).
    ClassTable& subclassable() {
        subclassable_ = true;
        info_.subclassable = true;
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
        for (PyGetSetDef& entry : getset_)
            if (std::string_view(entry.name) == name) entry.doc = doc;
        return *this;
    }

    // The members of an enumeration, from its description.
    ClassTable& described_members()
        requires std::is_enum_v<T> && describe::Described<T>
    {
        for (const auto& member : describe::description_of<T>().members) {
            const char* name = keep(std::string(member.name));
            members_.emplace_back(name, member.value);
            EnumMembers<T>::list().push_back({member.value, name, name_ + "." + name});
            info_.members.emplace_back(name, std::string(member.meaning));
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
        std::string text = name + Call::signature().text(true) + "\n--\n\n" + (doc ? doc : "");
        methods_.push_back({name, fastcall_entry<Call>(), fastcall_flags, keep(std::move(text))});
        info_.methods.push_back({name, parameter_items(Call::signature(), names, Call::Params::type_texts()),
                                 Call::return_text(), doc ? doc : "", false});
        return *this;
    }

    // `Fn` is R(*)(Args...), called on the class (or an instance) without the instance.
    template <auto Fn>
    ClassTable& static_method(const char* name, Params names, const char* doc = nullptr) {
        using Call = Function<Fn, T>;
        Call::signature() = Call::Params::signature(name_ + "." + name + "()", names);
        std::string text = name + Call::signature().text(false) + "\n--\n\n" + (doc ? doc : "");
        methods_.push_back({name, fastcall_entry<Call>(), fastcall_flags | METH_STATIC, keep(std::move(text))});
        info_.methods.push_back({name, parameter_items(Call::signature(), names, Call::Params::type_texts()),
                                 Call::return_text(), doc ? doc : "", true});
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
        if constexpr (std::is_enum_v<T>) {
            methods_.push_back({"__reduce__", reinterpret_cast<PyCFunction>(&EnumReduce<T>::call), METH_NOARGS,
                                "Pickle and copy as the class attribute of this member's name."});
        } else if (reduce_ && !opaque_) {
            methods_.push_back({"__reduce__", reduce_, METH_NOARGS, "Pickle and copy as the record's fields."});
            methods_.push_back({"__setstate__", reinterpret_cast<PyCFunction>(&SetState<T>::call), METH_O,
                                "Set the fields of a state that __reduce__ gave."});
        }
        if (!record_fields()) return nullptr;
        if (frozen_)
            for (PyGetSetDef& entry : getset_) entry.set = nullptr;
        if (summary_) {
            doc_ += summary_;
            for (const auto& [index, doc] : field_docs_)
                if (!getset_[index].doc) getset_[index].doc = doc;
        }
        getset_.push_back({});
        methods_.push_back({});
        std::vector<PyType_Slot> slots = {
            {Py_tp_new, reinterpret_cast<void*>(new_ ? new_ : refuse_construction)},
            {Py_tp_dealloc, reinterpret_cast<void*>(&Dealloc<T>::call)},
            {Py_tp_getset, getset_.data()},
            {Py_tp_methods, methods_.data()},
            {Py_tp_doc, const_cast<char*>(doc_.c_str())},
        };
        if (repr_) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_)});
        if (compare_) slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(compare_)});
        if (compare_ && frozen_) slots.push_back({Py_tp_hash, reinterpret_cast<void*>(&DescribedHash<T>::call)});
        if (traverse_) {
            slots.push_back({Py_tp_traverse, reinterpret_cast<void*>(traverse_)});
            slots.push_back({Py_tp_clear, reinterpret_cast<void*>(clear_)});
        }
        slots.push_back({0, nullptr});
        unsigned int flags =
            Py_TPFLAGS_DEFAULT | (traverse_ ? Py_TPFLAGS_HAVE_GC : 0) | (subclassable_ ? Py_TPFLAGS_BASETYPE : 0);
        PyType_Spec spec{qualified_.c_str(), static_cast<int>(sizeof(Object<T>)), 0, flags, slots.data()};
        Ref type = Ref::steal(PyType_FromSpec(&spec));
        if (!type || !add_members(reinterpret_cast<PyTypeObject*>(type.get()))) return nullptr;
        info_.name = name_;
        if (!guarded(
                [&] {
                    class_infos().push_back(info_);
                    return true;
                },
                false))
            return nullptr;
        return reinterpret_cast<PyTypeObject*>(type.release());
    }

private:
    template <class F>
    static DescribedItem field_item(const F& field) {
        using S = ShapeOf<T, F>;
        DescribedItem item{std::string(field.name),
                           S::read_text(),
                           S::write_text(),
                           std::string(field.meaning),
                           std::string(field.unit),
                           false,
                           {}};
        item.readings = readings_of(field.readings);
        return item;
    }

    bool record_fields() noexcept {
        auto& fields = RecordFields<T>::list();
        fields.clear();
        for (const PyGetSetDef& entry : getset_) {
            Ref name = Ref::steal(PyUnicode_InternFromString(entry.name));
            if (!name) return false;
            fields.emplace_back(KeptRef(std::move(name)), static_cast<FieldAccess*>(entry.closure));
        }
        return true;
    }
    bool add_members(PyTypeObject* type) noexcept {
        for (auto& [name, value] : members_) {
            Ref member = Ref::steal(make_instance(type, value));
            if (!member || PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, member.get()) < 0)
                return false;
        }
        return true;
    }
    const char* keep(std::string text) {
        texts_.push_back(std::move(text));
        return texts_.back().c_str();
    }

    std::string name_;
    std::string qualified_;
    std::string doc_;
    const char* summary_ = nullptr;
    bool frozen_ = false;
    bool subclassable_ = false;
    newfunc new_ = nullptr;
    PyCFunction reduce_ = nullptr;
    bool opaque_ = false;
    reprfunc repr_ = nullptr;
    richcmpfunc compare_ = nullptr;
    traverseproc traverse_ = nullptr;
    inquiry clear_ = nullptr;
    std::vector<std::unique_ptr<FieldAccess>> accessors_;
    std::vector<PyGetSetDef> getset_;
    std::vector<std::pair<std::size_t, const char*>> field_docs_;  // index in getset_, the field's sentence
    std::vector<PyMethodDef> methods_;
    std::vector<std::pair<const char*, T>> members_;
    std::deque<std::string> texts_;
    ClassInfo info_;
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
