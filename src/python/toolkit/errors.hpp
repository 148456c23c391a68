// How failures cross into Python: the exceptions binding code throws, the one mapping from C++
// exceptions to Python errors (extended by translators that the module registers), and the
// guard every entry point runs inside.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "python/toolkit/python.hpp"

namespace vorn::py {

// A Python error is already set; unwind to the entry point and return NULL.
struct ErrorAlreadySet {};

// A Python exception of a fixed type raised by binding code, for example
//   throw ValueFailure("basis_type must be one of: 'ghz', 'cluster', 'graph'");
// The message is kept whole: texts carry ids and paths from the caller, which may hold NUL
// characters that what() would cut short.
class Failure : public std::exception {
public:
    Failure(PyObject* type, std::string message) : type_(type), message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    PyObject* type() const noexcept { return type_; }
    const std::string& message() const noexcept { return message_; }

private:
    PyObject* type_;  // one of the interpreter's own exception types, which live as long as it does
    std::string message_;
};
class RuntimeFailure : public Failure {
public:
    explicit RuntimeFailure(std::string message) : Failure(PyExc_RuntimeError, std::move(message)) {}
};
class ValueFailure : public Failure {
public:
    explicit ValueFailure(std::string message) : Failure(PyExc_ValueError, std::move(message)) {}
};

// Derived from BaseException, so `except Exception` does not swallow it.
PyObject* panic_exception_type() noexcept;
// Makes `type` the exception of internal failures, so that a second module raises the first one's.
void adopt_panic_exception(PyObject* type) noexcept;

void raise_panic(const std::string& message) noexcept;
// Sets a Python error of `type` with the whole message, NUL characters included.
void set_error(PyObject* type, const std::string& message) noexcept;

// Called inside a catch block: rethrows the exception in flight (`throw;`), sets the Python error
// for the types it knows and returns true; returns false for any other.
using Translator = bool (*)() noexcept;

// Adds a translator for exceptions the toolkit does not know; consulted in the order added,
// after the toolkit's own and before the catch-alls (MemoryError, PanicException).
void add_translator(Translator translator);

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

// Replace a pending TypeError by "argument '<name>': <message>" (a field of a state: "field
// '<name>': <message>") with the original as cause.
void prefix_argument_error(const char* name) noexcept;
void prefix_field_error(PyObject* name) noexcept;

// The type's __qualname__, as the conversion messages name it.
std::string type_name(PyTypeObject* type);

}  // namespace vorn::py
