// The layout of an instance of a bound class: the Python header, a borrow flag, the C++ value.
#pragma once

#include <new>
#include <string>
#include <utility>

#include "python/toolkit/errors.hpp"
#include "python/toolkit/python.hpp"

namespace vorn::py {

// Each C++ type exposed as a Python class specialises this with its lazily built type object:
//   static PyTypeObject* type() noexcept;   // nullptr with an error set on failure
template <class T>
struct Bound;

template <class T>
concept BoundClass = requires { Bound<T>::type(); };

// Shared holds are counted; an exclusive hold is -1. Only re-entrant calls can collide, since
// the interpreter lock is never released.
struct BorrowFlag {
    long holds = 0;
};

template <class T>
struct Object {
    PyObject_HEAD
    BorrowFlag borrow;
    T value;
};

template <class T>
Object<T>* object_of(PyObject* self) noexcept {
    return reinterpret_cast<Object<T>*>(self);
}

class SharedHold {
public:
    explicit SharedHold(BorrowFlag& flag) : flag_(flag) {
        if (flag_.holds < 0) throw RuntimeFailure("Already mutably borrowed");
        ++flag_.holds;
    }
    ~SharedHold() { --flag_.holds; }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

private:
    BorrowFlag& flag_;
};

class ExclusiveHold {
public:
    explicit ExclusiveHold(BorrowFlag& flag) : flag_(flag) {
        if (flag_.holds != 0) throw RuntimeFailure("Already borrowed");
        flag_.holds = -1;
    }
    ~ExclusiveHold() { flag_.holds = 0; }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    BorrowFlag& flag_;
};

// A new instance of `type` holding `value`; nullptr with an error set on failure.
template <class T>
PyObject* make_instance(PyTypeObject* type, T value) noexcept {
    try {
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (!self) return nullptr;
        auto* object = object_of<T>(self);
        object->borrow = BorrowFlag{};
        new (&object->value) T(std::move(value));
        return self;
    } catch (...) {
        translate_current_exception();
        return nullptr;
    }
}

// T's type object for a value the library hands out; a type that cannot be built is an
// internal failure at that point.
template <BoundClass T>
PyTypeObject* class_type() noexcept {
    PyTypeObject* type = Bound<T>::type();
    if (!type) {
        PyErr_Print();
        raise_panic(std::string("failed to create type object for ") + Bound<T>::name);
    }
    return type;
}

template <BoundClass T>
PyObject* make_instance(T value) noexcept {
    PyTypeObject* type = class_type<T>();
    return type ? make_instance<T>(type, std::move(value)) : nullptr;
}

template <class T>
void destroy_instance(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    object_of<T>(self)->value.~T();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

}  // namespace vorn::py
