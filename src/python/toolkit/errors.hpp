// How failures cross into Python: the exception types thrown by binding code, the one mapping
// from C++ exceptions to Python errors, and the guard every entry point runs inside.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "python/toolkit/python.hpp"

namespace vorn::py {

// A Python error is already set; unwind to the entry point and return NULL.
struct ErrorAlreadySet {};

// Failures raised by bindings with a fixed Python type. The message is kept whole: texts carry
// ids and paths from the caller, which may hold NUL characters that what() would cut short.
class Failure : public std::exception {
public:
    explicit Failure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};
class RuntimeFailure : public Failure {
public:
    using Failure::Failure;
};
class ValueFailure : public Failure {
public:
    using Failure::Failure;
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
