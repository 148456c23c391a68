// Classes built from record descriptions: each described field becomes an attribute, and the
// fields that a constructor takes become its parameters, in the description's order.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "describe/record.hpp"
#include "python/toolkit/arguments.hpp"
#include "python/toolkit/fields.hpp"
#include "python/toolkit/infos.hpp"
#include "python/toolkit/type_text.hpp"

namespace vorn::py {

// How a described field's value converts, by its shape (describe::Plain, Mapping, ...).
template <class V, class Shape>
struct Shaped {
    static PyObject* to(const V& value) noexcept { return Convert<V>::to(value); }
    static bool from(PyObject* object, V& out) noexcept { return Convert<V>::from(object, out); }
    static PyObject* state(const V& value) noexcept { return Travel<V>::state(value); }
    static bool restore(PyObject* object, V& out) noexcept { return Travel<V>::restore(object, out); }
    static std::string read_text() { return TypeText<V>::read(); }
    static std::string write_text() { return TypeText<V>::write(); }
};

template <class V>
struct Shaped<std::vector<std::pair<std::string, V>>, describe::Mapping> {
    using Items = std::vector<std::pair<std::string, V>>;
    static PyObject* to(const Items& value) noexcept { return Convert<Entries<V>>::to(Entries<V>{value}); }
    static bool from(PyObject* object, Items& out) noexcept {
        Entries<V> entries;
        if (!Convert<Entries<V>>::from(object, entries)) return false;
        out = std::move(entries.items);
        return true;
    }
    static PyObject* state(const Items& value) noexcept { return to(value); }
    static bool restore(PyObject* object, Items& out) noexcept { return from(object, out); }
    static std::string read_text() { return TypeText<Entries<V>>::read(); }
    static std::string write_text() { return TypeText<Entries<V>>::write(); }
};

// A map keyed by numbers (levels of quantiles, ...), as a dict in the order of its pairs.
template <class V>
struct Shaped<std::vector<std::pair<double, V>>, describe::Mapping> {
    using Items = std::vector<std::pair<double, V>>;
    static PyObject* to(const Items& value) noexcept {
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return nullptr;
        for (const auto& [key, item] : value) {
            Ref py_key = Ref::steal(Convert<double>::to(key));
            Ref py_item = Ref::steal(Convert<V>::to(item));
            if (!py_key || !py_item || !set_dict_item(dict.get(), py_key.get(), py_item.get())) return nullptr;
        }
        return dict.release();
    }
    static bool from(PyObject* object, Items& out) noexcept {
        if (!open_dict(object)) return false;
        return guarded(
            [&] {
                Items items;
                Py_ssize_t position = 0;
                PyObject *key = nullptr, *value = nullptr;
                while (PyDict_Next(object, &position, &key, &value)) {
                    std::pair<double, V> entry;
                    Ref key_ref = Ref::borrow(key), value_ref = Ref::borrow(value);
                    if (!Convert<double>::from(key_ref.get(), entry.first) ||
                        !Convert<V>::from(value_ref.get(), entry.second))
                        return false;
                    items.push_back(std::move(entry));
                }
                out = std::move(items);
                return true;
            },
            false);
    }
    static PyObject* state(const Items& value) noexcept { return to(value); }
    static bool restore(PyObject* object, Items& out) noexcept { return from(object, out); }
    static std::string read_text() { return "dict[float, " + TypeText<V>::read() + "]"; }
    static std::string write_text() { return "dict[float, " + TypeText<V>::write() + "]"; }
};

// A described record as the plain tuple of its fields, in the description's order. The tuple is positional,
// like a constructor's arguments: a keyword-only field takes no place in it (and keeps its default when a
// record is built from a tuple), so the tuples callers hold keep their length when a record gains a field.
template <describe::Described R>
struct FieldTuple {
    static constexpr auto fields = describe::description_of<R>().fields;
    static constexpr std::size_t kTotal = std::tuple_size_v<std::decay_t<decltype(fields)>>;
    // The indices of the fields in the tuple, and how many there are.
    static constexpr auto kPlaces = [] {
        std::array<std::size_t, kTotal + 1> places{};
        std::size_t count = 0;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            ((std::get<I>(fields).parameter != describe::kKeywordOnly ? void(places[count++] = I) : void()), ...);
        }(std::make_index_sequence<kTotal>{});
        places[kTotal] = count;
        return places;
    }();
    static constexpr std::size_t kCount = kPlaces[kTotal];

    template <std::size_t K>
    using FieldAt = std::decay_t<decltype(std::get<kPlaces[K]>(fields))>;

    static auto empty() {
        return []<std::size_t... K>(std::index_sequence<K...>) {
            return std::tuple<typename FieldAt<K>::Type...>{};
        }(std::make_index_sequence<kCount>{});
    }
    using Tuple = decltype(empty());

    static Tuple of(const R& record) {
        return [&]<std::size_t... K>(std::index_sequence<K...>) {
            return Tuple{FieldAt<K>::get(record)...};
        }(std::make_index_sequence<kCount>{});
    }
    static R from(Tuple&& tuple) {
        R record{};
        [&]<std::size_t... K>(std::index_sequence<K...>) {
            ((FieldAt<K>::get(record) = std::move(std::get<K>(tuple))), ...);
        }(std::make_index_sequence<kCount>{});
        return record;
    }
};

template <class R>
struct Shaped<std::vector<R>, describe::RecordTuples> {
    using Tuple = typename FieldTuple<R>::Tuple;
    static PyObject* to(const std::vector<R>& value) noexcept {
        return guarded(
            [&] {
                std::vector<Tuple> tuples;
                tuples.reserve(value.size());
                for (const R& record : value) tuples.push_back(FieldTuple<R>::of(record));
                return Convert<std::vector<Tuple>>::to(tuples);
            },
            static_cast<PyObject*>(nullptr));
    }
    static bool from(PyObject* object, std::vector<R>& out) noexcept {
        std::vector<Tuple> tuples;
        if (!Convert<std::vector<Tuple>>::from(object, tuples)) return false;
        return guarded(
            [&] {
                std::vector<R> records;
                records.reserve(tuples.size());
                for (Tuple& tuple : tuples) records.push_back(FieldTuple<R>::from(std::move(tuple)));
                out = std::move(records);
                return true;
            },
            false);
    }
    static PyObject* state(const std::vector<R>& value) noexcept { return to(value); }
    static bool restore(PyObject* object, std::vector<R>& out) noexcept { return from(object, out); }
    static std::string read_text() { return TypeText<std::vector<Tuple>>::read(); }
    static std::string write_text() { return TypeText<std::vector<Tuple>>::write(); }
};

template <>
struct Shaped<std::optional<std::string>, describe::EmptyText> {
    static PyObject* to(const std::optional<std::string>& value) noexcept {
        return Convert<std::string>::to(value ? *value : std::string());
    }
    static bool from(PyObject* object, std::optional<std::string>& out) noexcept {
        std::string text;
        if (!Convert<std::string>::from(object, text)) return false;
        out = std::move(text);
        return true;
    }
    static PyObject* state(const std::optional<std::string>& value) noexcept { return to(value); }
    static bool restore(PyObject* object, std::optional<std::string>& out) noexcept { return from(object, out); }
    static std::string read_text() { return "str"; }
    static std::string write_text() { return "str"; }
};

template <class V>
struct Shaped<std::vector<V>, describe::AsTuple> {
    static PyObject* to(const std::vector<V>& value) noexcept {
        Ref list = Ref::steal(Convert<std::vector<V>>::to(value));
        return list ? PyList_AsTuple(list.get()) : nullptr;
    }
    static bool from(PyObject* object, std::vector<V>& out) noexcept {
        return Convert<std::vector<V>>::from(object, out);
    }
    static PyObject* state(const std::vector<V>& value) noexcept { return to(value); }
    static bool restore(PyObject* object, std::vector<V>& out) noexcept { return from(object, out); }
    static std::string read_text() { return "tuple[" + TypeText<V>::read() + ", ...]"; }
    static std::string write_text() { return TypeText<std::vector<V>>::write(); }
};

// Nested sequences are tuples all the way down, so a record holding them stays hashable and compares
// equal to the tuples a caller writes.
template <class W>
struct Shaped<std::vector<std::vector<W>>, describe::AsTuple> {
    using Inner = Shaped<std::vector<W>, describe::AsTuple>;
    static PyObject* to(const std::vector<std::vector<W>>& value) noexcept {
        Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(value.size())));
        for (std::size_t i = 0; tuple && i < value.size(); ++i) {
            PyObject* item = Inner::to(value[i]);
            if (!item) return nullptr;
            PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals
        }
        return tuple.release();
    }
    static bool from(PyObject* object, std::vector<std::vector<W>>& out) noexcept {
        return Convert<std::vector<std::vector<W>>>::from(object, out);
    }
    static PyObject* state(const std::vector<std::vector<W>>& value) noexcept { return to(value); }
    static bool restore(PyObject* object, std::vector<std::vector<W>>& out) noexcept { return from(object, out); }
    static std::string read_text() { return "tuple[" + Inner::read_text() + ", ...]"; }
    static std::string write_text() { return TypeText<std::vector<std::vector<W>>>::write(); }
};

template <class T, class F>
using ShapeOf = Shaped<typename F::Type, typename F::Shape>;

// The attribute of one described field.
template <class T, class F>
struct DescribedField final : FieldAccess {
    using V = typename F::Type;
    using S = ShapeOf<T, F>;

    PyObject* get(PyObject* self) noexcept override { return read_field<T>(self, read, S::to); }
    int set(PyObject* self, PyObject* value) noexcept override {
        return write_field<T, V>(self, value, S::from, write);
    }
    PyObject* state(PyObject* self) noexcept override { return read_field<T>(self, read, S::state); }
    int restore(PyObject* self, PyObject* value) noexcept override {
        return write_field<T, V>(self, value, S::restore, write);
    }

private:
    static const V& read(const T& record) { return F::get(record); }
    static void write(T& record, V&& converted) { F::get(record) = std::move(converted); }
};

// The repr of a value (owned, nullptr with an error set), or empty where it has none; clears the error.
std::string repr_text(PyObject* value);

// The default value of field F in a value-initialised record, as Python shows it (repr).
template <class T, class F>
std::string default_text() {
    T record{};
    return repr_text(ShapeOf<T, F>::to(F::get(record)));
}

// Calls `visit(field, slot)` for each described field of T that a constructor takes, in the order of its
// parameters: the positional ones (required and optional) in the description's order, then the
// keyword-only ones; `slot` counts them.
template <describe::Described T, class Visit>
void for_each_parameter(Visit&& visit) {
    std::size_t slot = 0;
    describe::for_each_field<T>([&](const auto& field) {
        if (field.parameter != describe::kAbsent && field.parameter != describe::kKeywordOnly) visit(field, slot++);
    });
    describe::for_each_field<T>([&](const auto& field) {
        if (field.parameter == describe::kKeywordOnly) visit(field, slot++);
    });
}

// Adds the parameter of a described field to a constructor's signature; throws with the error set.
void add_described_parameter(Signature& signature, std::string_view name, describe::Parameter role);

// tp_new of a class whose constructor takes the described fields that are parameters: required ones
// by position or keyword, optional ones "=None" (None or omitted keeps the field's default), keyword-only
// ones after "*". `Check`, when given, is void(const T&): it throws for a record it refuses.
template <describe::Described T, auto Check = nullptr>
struct DescribedConstructor {
    static Signature& signature() {
        static Signature instance;
        return instance;
    }

    static Signature make_signature(const std::string& callable) {
        Signature result{callable, {}};
        for_each_parameter<T>(
            [&](const auto& field, std::size_t) { add_described_parameter(result, field.name, field.parameter); });
        return result;
    }

    static PyObject* call(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
        return guarded(
            [&] {
                const Signature& sig = signature();
                std::vector<PyObject*> slots(sig.parameters.size() + 1, nullptr);
                if (!bind_tuple(sig, args, kwargs, slots.data())) throw ErrorAlreadySet{};
                T record{};
                bool converted = true;
                for_each_parameter<T>([&](const auto& field, std::size_t i) {
                    using F = std::decay_t<decltype(field)>;
                    PyObject* argument = slots[i];
                    if (!converted || !argument) return;
                    if (argument == Py_None && describe::may_be_omitted(field.parameter)) return;
                    if (!ShapeOf<T, F>::from(argument, F::get(record))) {
                        prefix_argument_error(sig.parameters[i].name);
                        converted = false;
                    }
                });
                if (!converted) throw ErrorAlreadySet{};
                if constexpr (!std::is_null_pointer_v<decltype(Check)>) Check(record);
                PyObject* self = make_instance<T>(type, std::move(record));
                if (!self) throw ErrorAlreadySet{};
                return self;
            },
            static_cast<PyObject*>(nullptr));
    }

    // The positional arguments of __reduce__: the value-initialised value of each required
    // parameter, up to the last one (keyword-only parameters are never required).
    static PyObject* reduce(PyObject* self, PyObject*) noexcept {
        return guarded(
            [&] {
                std::vector<Ref> items;
                std::size_t last_required = 0;
                for_each_parameter<T>([&](const auto& field, std::size_t) {
                    using F = std::decay_t<decltype(field)>;
                    if (field.parameter == describe::kRequired) {
                        typename F::Type neutral{};
                        items.push_back(Ref::steal(ShapeOf<T, F>::to(neutral)));
                        last_required = items.size();
                    } else {
                        items.push_back(Ref::borrow(Py_None));
                    }
                });
                Ref arguments = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(last_required)));
                if (!arguments) throw ErrorAlreadySet{};
                for (std::size_t i = 0; i < last_required; ++i) {
                    if (!items[i]) throw ErrorAlreadySet{};
                    PyTuple_SetItem(arguments.get(), static_cast<Py_ssize_t>(i), items[i].release());
                }
                Ref state = Ref::steal(state_of<T>(self));
                if (!state) throw ErrorAlreadySet{};
                PyObject* reduced =
                    PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(self)), arguments.get(), state.get());
                if (!reduced) throw ErrorAlreadySet{};
                return reduced;
            },
            static_cast<PyObject*>(nullptr));
    }
};

// A described record or enumeration of vorn_core, for a module that receives vorn_core's objects and
// gives them back without holding vorn_core's types:
// - taken from any object that carries it: a record from an object with the described attributes (a
//   record of any module, a named tuple, ...), where an attribute that is missing, or None for a field
//   that is no optional value, keeps the record's default unless the field is required; an enumeration
//   member from its name or from a member of any module (which pickles as getattr(class, name));
// - given back as vorn_core's own class of the same name: a record built by its constructor from the
//   fields it takes, the other fields set as attributes; a member as vorn_core's.
template <class T>
struct Loose {
    T value{};
};

template <class T>
concept CoreNamed = requires { Bound<T>::name; };

// vorn_core's class of T (borrowed: looked up once and kept for the process, as vorn_core keeps its
// types), or nullptr with an error set.
template <class T>
    requires CoreNamed<T>
PyObject* core_class() noexcept {
    static KeptRef kept;
    if (!kept.get()) {
        Ref module = Ref::steal(PyImport_ImportModule("vorn_core"));
        Ref type = module ? Ref::steal(PyObject_GetAttrString(module.get(), Bound<T>::name)) : Ref();
        if (!type) return nullptr;
        kept = KeptRef(std::move(type));
    }
    return kept.get();
}

template <class T>
struct TypeText<Loose<T>> {
    static std::string read() { return "Any"; }
    static std::string write() { return "Any"; }
};

// The loose form of a field's type: described records and enumerations inside are loose too.
template <class V>
struct LooseOf {
    using Type = V;
};
template <describe::Described V>
struct LooseOf<V> {
    using Type = Loose<V>;
};
template <class V>
struct LooseOf<std::optional<V>> {
    using Type = std::optional<typename LooseOf<V>::Type>;
};
template <class V>
struct LooseOf<std::vector<V>> {
    using Type = std::vector<typename LooseOf<V>::Type>;
};

template <class V>
V tighten(typename LooseOf<V>::Type&& loose) {
    if constexpr (std::is_same_v<typename LooseOf<V>::Type, V>) {
        return std::move(loose);
    } else if constexpr (describe::Described<V>) {
        return std::move(loose.value);
    } else if constexpr (is_optional_v<V>) {
        if (!loose) return std::nullopt;
        return tighten<typename V::value_type>(std::move(*loose));
    } else {
        V out;
        out.reserve(loose.size());
        for (auto& item : loose) out.push_back(tighten<typename V::value_type>(std::move(item)));
        return out;
    }
}

template <class V>
typename LooseOf<V>::Type loosen(const V& value) {
    if constexpr (std::is_same_v<typename LooseOf<V>::Type, V>) {
        return value;
    } else if constexpr (describe::Described<V>) {
        return {value};
    } else if constexpr (is_optional_v<V>) {
        if (!value) return std::nullopt;
        return loosen<typename V::value_type>(*value);
    } else {
        typename LooseOf<V>::Type out;
        out.reserve(value.size());
        for (const auto& item : value) out.push_back(loosen<typename V::value_type>(item));
        return out;
    }
}

// A field's value from a Python object and back, loosely where its shape is plain.
template <class T, class F>
bool loose_field_from(PyObject* object, typename F::Type& out) noexcept {
    using V = typename F::Type;
    if constexpr (std::is_same_v<typename F::Shape, describe::Plain>) {
        typename LooseOf<V>::Type loose{};
        if (!Convert<decltype(loose)>::from(object, loose)) return false;
        return guarded(
            [&] {
                out = tighten<V>(std::move(loose));
                return true;
            },
            false);
    } else {
        return ShapeOf<T, F>::from(object, out);
    }
}

template <class T, class F>
PyObject* loose_field_to(const typename F::Type& value) noexcept {
    using V = typename F::Type;
    if constexpr (std::is_same_v<typename F::Shape, describe::Plain>) {
        return guarded([&] { return Convert<typename LooseOf<V>::Type>::to(loosen<V>(value)); },
                       static_cast<PyObject*>(nullptr));
    } else {
        return ShapeOf<T, F>::to(value);
    }
}

// Whether two values of a field are the same, bit for bit where they are numbers (-0.0 is not 0.0); false
// where that is not simply told.
template <class V>
bool same_value(const V& a, const V& b) {
    if constexpr (std::is_floating_point_v<V>)
        return std::bit_cast<std::uint64_t>(static_cast<double>(a)) ==
               std::bit_cast<std::uint64_t>(static_cast<double>(b));
    else if constexpr (std::is_enum_v<V> || std::is_integral_v<V>)
        return a == b;
    else if constexpr (is_optional_v<V>)
        return !a && !b;
    else
        return false;
}

// The member named `name`, or a ValueError naming the enumeration's members.
template <class E>
bool member_named(PyObject* name, E& out) noexcept {
    std::string text;
    if (!Convert<std::string>::from(name, text)) return false;
    for (const auto& member : describe::description_of<E>().members)
        if (member.name == text) {
            out = member.value;
            return true;
        }
    return guarded(
        [&] {
            std::string names;
            for (const auto& member : describe::description_of<E>().members)
                names += (names.empty() ? "'" : ", '") + std::string(member.name) + "'";
            set_error(PyExc_ValueError, "'" + text + "' is not one of " + names);
            return false;
        },
        false);
}

template <describe::Described E>
    requires std::is_enum_v<E>
struct Convert<Loose<E>> {
    static bool from(PyObject* object, Loose<E>& out) noexcept {
        if (PyUnicode_Check(object)) return member_named(object, out.value);
        // A member of any module reduces to (getattr, (its class, its name)).
        Ref reduced = Ref::steal(PyObject_CallMethod(object, "__reduce__", nullptr));
        if (reduced && PyTuple_Check(reduced.get()) && PyTuple_Size(reduced.get()) == 2) {
            PyObject* arguments = PyTuple_GetItem(reduced.get(), 1);
            if (PyTuple_Check(arguments) && PyTuple_Size(arguments) == 2 &&
                PyUnicode_Check(PyTuple_GetItem(arguments, 1)))
                return member_named(PyTuple_GetItem(arguments, 1), out.value);
        }
        PyErr_Clear();
        return cannot_convert(object, "an enumeration member");
    }
    static PyObject* to(const Loose<E>& member) noexcept
        requires CoreNamed<E>
    {
        PyObject* type = core_class<E>();
        return type ? PyObject_GetAttrString(type, std::string(describe::member_name(member.value)).c_str()) : nullptr;
    }
};

template <describe::Described T>
    requires(!std::is_enum_v<T>)
struct Convert<Loose<T>> {
    static bool from(PyObject* object, Loose<T>& out) noexcept {
        return guarded(
            [&] {
                T record{};
                bool converted = true;
                bool found = false;  // an object with none of the attributes is no such record
                const auto refuse = [&](const std::string& missing) {
                    set_error(PyExc_TypeError, "expected " + described_name() + ", got " + type_name(Py_TYPE(object)) +
                                                   " (it has no attribute '" + missing + "')");
                    converted = false;
                };
                std::string first_missing;
                describe::for_each_field<T>([&](const auto& field) {
                    using F = std::decay_t<decltype(field)>;
                    if (!converted) return;
                    const std::string name(field.name);
                    const bool required = field.parameter == describe::kRequired;
                    Ref item = Ref::steal(PyObject_GetAttrString(object, name.c_str()));
                    if (!item) {
                        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
                            converted = false;
                            return;
                        }
                        PyErr_Clear();
                        if (first_missing.empty()) first_missing = name;
                        if (required) refuse(name);
                        return;  // an optional one keeps the record's default
                    }
                    found = true;
                    if (item.get() == Py_None && !required && !is_optional_v<typename F::Type>) return;
                    if (loose_field_from<T, F>(item.get(), F::get(record))) return;
                    Ref key = Ref::steal(Convert<std::string>::to(name));
                    if (key) prefix_field_error(key.get());
                    converted = false;
                });
                if (converted && !found && !first_missing.empty()) refuse(first_missing);
                if (!converted) return false;
                out.value = std::move(record);
                return true;
            },
            false);
    }

    static PyObject* to(const Loose<T>& loose) noexcept
        requires CoreNamed<T>
    {
        return guarded(
            [&]() -> PyObject* {
                PyObject* type = core_class<T>();
                Ref arguments = Ref::steal(PyTuple_New(0));
                Ref keywords = Ref::steal(PyDict_New());
                if (!type || !arguments || !keywords) throw ErrorAlreadySet{};
                std::vector<std::pair<std::string, Ref>> attributes;
                [[maybe_unused]] static const T defaults{};
                describe::for_each_field<T>([&](const auto& field) {
                    using F = std::decay_t<decltype(field)>;
                    // An optional parameter left out keeps the record's default.
                    if (field.parameter == describe::kOptional && same_value(F::get(loose.value), F::get(defaults)))
                        return;
                    Ref value = Ref::steal(loose_field_to<T, F>(F::get(loose.value)));
                    if (!value) throw ErrorAlreadySet{};
                    if (field.parameter == describe::kAbsent)
                        attributes.emplace_back(std::string(field.name), std::move(value));
                    else if (PyDict_SetItemString(keywords.get(), std::string(field.name).c_str(), value.get()) < 0)
                        throw ErrorAlreadySet{};
                });
                Ref record = Ref::steal(PyObject_Call(type, arguments.get(), keywords.get()));
                if (!record) throw ErrorAlreadySet{};
                for (const auto& [name, value] : attributes)
                    if (PyObject_SetAttrString(record.get(), name.c_str(), value.get()) < 0) throw ErrorAlreadySet{};
                return record.release();
            },
            static_cast<PyObject*>(nullptr));
    }

private:
    static std::string described_name() {
        if constexpr (CoreNamed<T>)
            return Bound<T>::name;
        else
            return "a record";
    }
};

}  // namespace vorn::py
