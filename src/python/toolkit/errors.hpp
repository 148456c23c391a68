// How failures cross into Python: the exception types thrown by binding code, the one mapping
// from C++ exceptions to Python errors, and the guard every entry point runs inside.
#pragma once

#include <stdexcept>
#include <string>

#include "python/toolkit/python.hpp"

namespace vorn::py {

// A Python error is already set; unwind to the entry point and return NULL.
struct ErrorAlreadySet {};

// Failures raised by bindings with a fixed Python type.
class RuntimeFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class ValueFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Derived from BaseException, so `except Exception` does not swallow it.
PyObject* panic_exception_type() noexcept;

void raise_panic(const std::string& message) noexcept;
void set_error(PyObject* type, const std::string& message) noexcept;

// Sets the Python error matching the exception in flight; call only from a catch block.
void translate_current_exception() noexcept;

// Runs `body` and returns its result; any C++ exception becomes a Python error and `failed`.
template <class Body, class Result>
Result guarded(Body&& body, Result failed) noexcept {
    try {
        return body();
    } catch (...) {
        translate_current_exception();
        return failed;
    }
}

// Replaces a pending TypeError by "argument '<name>': <message>" with the original as cause.
void prefix_argument_error(const char* name) noexcept;

// The type's __qualname__, as the conversion messages name it.
std::string type_name(PyTypeObject* type);

}  // namespace vorn::py
