// Conversion traits between Python objects and C++ values. `from` fills `out` and returns true,
// or sets a Python error and returns false; `to` returns a new reference or nullptr with an
// error set. Both are noexcept: failures travel as Python errors, never as C++ exceptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "python/toolkit/errors.hpp"
#include "python/toolkit/handle.hpp"
#include "python/toolkit/object.hpp"

namespace vorn::py {

template <class T>
struct Convert;

// "'int' object cannot be converted to 'PyString'"
bool cannot_convert(PyObject* object, const char* target) noexcept;
// The same, naming a bound class by its __qualname__.
bool cannot_convert(PyObject* object, PyTypeObject* target) noexcept;

template <>
struct Convert<std::string> {
    static bool from(PyObject* object, std::string& out) noexcept;
    static PyObject* to(const std::string& value) noexcept;
};

template <>
struct Convert<double> {
    static bool from(PyObject* object, double& out) noexcept;
    static PyObject* to(double value) noexcept { return PyFloat_FromDouble(value); }
};

template <>
struct Convert<std::uint64_t> {
    static bool from(PyObject* object, std::uint64_t& out) noexcept;
    static PyObject* to(std::uint64_t value) noexcept { return PyLong_FromUnsignedLongLong(value); }
};

template <>
struct Convert<std::int64_t> {
    static bool from(PyObject* object, std::int64_t& out) noexcept;
    static PyObject* to(std::int64_t value) noexcept { return PyLong_FromLongLong(value); }
};

template <>
struct Convert<std::uint32_t> {
    static bool from(PyObject* object, std::uint32_t& out) noexcept;
    static PyObject* to(std::uint32_t value) noexcept { return PyLong_FromUnsignedLong(value); }
};

template <>
struct Convert<bool> {
    static bool from(PyObject* object, bool& out) noexcept;
    static PyObject* to(bool value) noexcept { return PyBool_FromLong(value); }
};

// Any Python object, held by reference (None included).
template <>
struct Convert<Ref> {
    static bool from(PyObject* object, Ref& out) noexcept {
        out = Ref::borrow(object);
        return true;
    }
    static PyObject* to(const Ref& value) noexcept { return Ref::borrow(value ? value.get() : Py_None).release(); }
};

template <class T>
struct Convert<std::optional<T>> {
    static bool from(PyObject* object, std::optional<T>& out) noexcept {
        if (object == Py_None) {
            out.reset();
            return true;
        }
        T value{};
        if (!Convert<T>::from(object, value)) return false;
        out = std::move(value);
        return true;
    }
    static PyObject* to(const std::optional<T>& value) noexcept {
        return value ? Convert<T>::to(*value) : Ref::borrow(Py_None).release();
    }
};

// Instances of bound classes (subclasses included) convert by copy, taken under a shared hold.
template <BoundClass T>
struct Convert<T> {
    static bool from(PyObject* object, T& out) noexcept {
        PyTypeObject* type = class_type<T>();
        if (!type) return false;
        if (!PyObject_TypeCheck(object, type)) return cannot_convert(object, type);
        SharedHold hold;
        if (!hold.acquire(object_of<T>(object)->borrow)) return false;
        return guarded(
            [&] {
                out = object_of<T>(object)->value;
                return true;
            },
            false);
    }
    static PyObject* to(const T& value) noexcept { return make_instance<T>(value); }
    static PyObject* to(T&& value) noexcept { return make_instance<T>(std::move(value)); }
};

// Opens a sequence for element-wise conversion, refusing str as Python users expect. The size
// hint is what the sequence's __len__ claims, capped: a sequence may lie about its length, and only
// the items it yields are converted.
Ref open_sequence(PyObject* object, std::size_t& size_hint) noexcept;

template <class T>
struct Convert<std::vector<T>> {
    static bool from(PyObject* object, std::vector<T>& out) noexcept {
        std::size_t size_hint = 0;
        Ref iterator = open_sequence(object, size_hint);
        if (!iterator) return false;
        return guarded(
            [&] {
                std::vector<T> items;
                items.reserve(size_hint);
                while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
                    T value{};
                    if (!Convert<T>::from(item.get(), value)) return false;
                    items.push_back(std::move(value));
                }
                if (PyErr_Occurred()) return false;
                out = std::move(items);
                return true;
            },
            false);
    }
    static PyObject* to(const std::vector<T>& values) noexcept {
        Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < values.size(); ++i) {
            PyObject* item = Convert<T>::to(values[i]);
            if (!item) return nullptr;
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
        }
        return list.release();
    }
};

// "expected tuple of length 2, but got tuple of length 3"; false for a non-tuple.
bool check_tuple(PyObject* object, Py_ssize_t length) noexcept;

template <class... Items>
struct Convert<std::tuple<Items...>> {
    static bool from(PyObject* object, std::tuple<Items...>& out) noexcept {
        if (!check_tuple(object, sizeof...(Items))) return false;
        return from_items(object, out, std::index_sequence_for<Items...>{});
    }
    static PyObject* to(const std::tuple<Items...>& value) noexcept {
        return to_items(value, std::index_sequence_for<Items...>{});
    }

private:
    template <std::size_t... I>
    static bool from_items(PyObject* object, std::tuple<Items...>& out, std::index_sequence<I...>) noexcept {
        return (Convert<Items>::from(PyTuple_GetItem(object, I), std::get<I>(out)) && ...);
    }
    template <std::size_t... I>
    static PyObject* to_items(const std::tuple<Items...>& value, std::index_sequence<I...>) noexcept {
        Ref tuple = Ref::steal(PyTuple_New(sizeof...(Items)));
        if (!tuple) return nullptr;
        PyObject* items[] = {Convert<Items>::to(std::get<I>(value))...};
        bool ok = true;
        for (std::size_t i = 0; i < sizeof...(Items); ++i) {
            if (!items[i])
                ok = false;
            else
                PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), items[i]);  // steals
        }
        return ok ? tuple.release() : nullptr;
    }
};

template <class First, class Second>
struct Convert<std::pair<First, Second>> {
    static bool from(PyObject* object, std::pair<First, Second>& out) noexcept {
        if (!check_tuple(object, 2)) return false;
        return Convert<First>::from(PyTuple_GetItem(object, 0), out.first) &&
               Convert<Second>::from(PyTuple_GetItem(object, 1), out.second);
    }
    static PyObject* to(const std::pair<First, Second>& value) noexcept {
        return Convert<std::tuple<First, Second>>::to(std::tuple<First, Second>(value.first, value.second));
    }
};

// A string-keyed map kept as an ordered list of entries; a Python dict on the Python side.
template <class V>
struct Entries {
    std::vector<std::pair<std::string, V>> items;
};

bool open_dict(PyObject* object) noexcept;
// Inserts into a dict, turning a refusal into the internal failure the library reports for it.
bool set_dict_item(PyObject* dict, PyObject* key, PyObject* value) noexcept;

template <class V>
struct Convert<Entries<V>> {
    static bool from(PyObject* object, Entries<V>& out) noexcept {
        if (!open_dict(object)) return false;
        return guarded(
            [&] {
                Entries<V> entries;
                Py_ssize_t position = 0;
                PyObject *key = nullptr, *value = nullptr;
                while (PyDict_Next(object, &position, &key, &value)) {
                    std::pair<std::string, V> entry;
                    Ref key_ref = Ref::borrow(key), value_ref = Ref::borrow(value);
                    if (!Convert<std::string>::from(key_ref.get(), entry.first) ||
                        !Convert<V>::from(value_ref.get(), entry.second))
                        return false;
                    entries.items.push_back(std::move(entry));
                }
                out = std::move(entries);
                return true;
            },
            false);
    }
    static PyObject* to(const Entries<V>& entries) noexcept {
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return nullptr;
        for (const auto& [key, value] : entries.items) {
            Ref py_key = Ref::steal(Convert<std::string>::to(key));
            Ref py_value = Ref::steal(Convert<V>::to(value));
            if (!py_key || !py_value || !set_dict_item(dict.get(), py_key.get(), py_value.get())) return nullptr;
        }
        return dict.release();
    }
};

template <class T>
PyObject* to_python(const T& value) noexcept {
    return Convert<T>::to(value);
}

}  // namespace vorn::py
