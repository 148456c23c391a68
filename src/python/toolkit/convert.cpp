#include "python/toolkit/convert.hpp"

#include <algorithm>
#include <string>

namespace vorn::py {

bool cannot_convert(PyObject* object, const char* target) noexcept {
    return guarded(
        [&] {
            std::string source = type_name(Py_TYPE(object));
            PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", source.c_str(), target);
            return false;
        },
        false);
}

bool cannot_convert(PyObject* object, PyTypeObject* target) noexcept {
    return guarded([&] { return cannot_convert(object, type_name(target).c_str()); }, false);
}

bool Convert<std::string>::from(PyObject* object, std::string& out) noexcept {
    if (!PyUnicode_Check(object)) return cannot_convert(object, "PyString");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (!text) return false;
    return guarded(
        [&] {
            out.assign(text, static_cast<std::size_t>(size));
            return true;
        },
        false);
}

PyObject* Convert<std::string>::to(const std::string& value) noexcept {
    return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}

bool Convert<double>::from(PyObject* object, double& out) noexcept {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool Convert<std::uint64_t>::from(PyObject* object, std::uint64_t& out) noexcept {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return false;
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool Convert<std::int64_t>::from(PyObject* object, std::int64_t& out) noexcept {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return false;
    long long value = PyLong_AsLongLong(index.get());
    if (value == -1 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

// One text for every value out of range, however far out.
bool Convert<std::uint32_t>::from(PyObject* object, std::uint32_t& out) noexcept {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return false;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || value < 0 || value > 0xFFFFFFFFLL) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool Convert<bool>::from(PyObject* object, bool& out) noexcept {
    if (!PyBool_Check(object)) return cannot_convert(object, "PyBool");
    out = object == Py_True;
    return true;
}

Ref open_sequence(PyObject* object, std::size_t& size_hint) noexcept {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return {};
    }
    if (!PySequence_Check(object)) {
        cannot_convert(object, "Sequence");
        return {};
    }
    constexpr Py_ssize_t most_reserved = 4096;  // beyond it the vector grows as items arrive
    Py_ssize_t claimed = PySequence_Size(object);
    // As list() does: a length that cannot be had is no hint, but a real error from __len__
    // (KeyboardInterrupt among them) is the caller's to see.
    if (claimed < 0) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return {};
        PyErr_Clear();
    }
    size_hint = static_cast<std::size_t>(std::clamp<Py_ssize_t>(claimed, 0, most_reserved));
    return Ref::steal(PyObject_GetIter(object));
}

bool check_tuple(PyObject* object, Py_ssize_t length) noexcept {
    if (!PyTuple_Check(object)) return cannot_convert(object, "PyTuple");
    Py_ssize_t actual = PyTuple_Size(object);
    if (actual == length) return true;
    PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd", length, actual);
    return false;
}

bool open_dict(PyObject* object) noexcept { return PyDict_Check(object) || cannot_convert(object, "PyDict"); }

bool set_dict_item(PyObject* dict, PyObject* key, PyObject* value) noexcept {
    if (PyDict_SetItem(dict, key, value) == 0) return true;
    PyErr_Clear();
    raise_panic("Failed to set_item on dict");
    return false;
}

}  // namespace vorn::py
