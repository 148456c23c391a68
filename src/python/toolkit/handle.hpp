// Owning references to Python objects.
#pragma once

#include <utility>

#include "python/toolkit/python.hpp"

namespace vorn::py {

// Owns one reference (or none). Borrowed pointers stay plain `PyObject*` and are never released.
class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    Ref& operator=(const Ref& other) noexcept {
        Ref(other).swap(*this);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// Owns one reference for the life of the process and never releases it: for objects built once
// with a class or function (like the type objects themselves), whose static holders are
// destroyed only after the interpreter has gone.
class KeptRef {
public:
    KeptRef() noexcept = default;
    explicit KeptRef(Ref ref) noexcept : object_(ref.release()) {}
    PyObject* get() const noexcept { return object_; }

private:
    PyObject* object_ = nullptr;
};

}  // namespace vorn::py
