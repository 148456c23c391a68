#include "python/toolkit/errors.hpp"

#include <new>

#include "core/failure.hpp"
#include "python/toolkit/handle.hpp"

namespace vorn::py {

PyObject* panic_exception_type() noexcept {
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "vorn_core.PanicException", "An internal failure: a broken invariant of the library.",
        PyExc_BaseException, nullptr);
    return type;
}

void set_error(PyObject* type, const std::string& message) noexcept {
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(type, text.get());
}

void raise_panic(const std::string& message) noexcept {
    if (PyObject* type = panic_exception_type()) set_error(type, message);
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorAlreadySet&) {
    } catch (const Interrupted&) {
        // The signal handler that asked for the stop has set its exception already.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const RuntimeFailure& failure) {
        set_error(PyExc_RuntimeError, failure.message());
    } catch (const ValueFailure& failure) {
        set_error(PyExc_ValueError, failure.message());
    } catch (const InvalidValue& refusal) {
        set_error(PyExc_ValueError, refusal.message());
    } catch (const Panic& panic) {
        raise_panic(panic.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& other) {
        raise_panic(other.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
}

void prefix_argument_error(const char* name) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != PyExc_TypeError) {  // subclasses of TypeError pass unchanged
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref cause = Ref::steal(value);
    Ref cause_type = Ref::steal(type);
    if (traceback) PyException_SetTraceback(cause.get(), traceback);
    Py_XDECREF(traceback);
    Ref text = Ref::steal(PyObject_Str(cause.get()));
    if (!text) return;
    Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    Ref error = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!error) return;
    PyException_SetCause(error.get(), cause.release());
    PyErr_SetObject(PyExc_TypeError, error.get());
}

std::string type_name(PyTypeObject* type) {
    Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
    if (!name) {
        PyErr_Clear();
        return "?";
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (!text) {
        PyErr_Clear();
        return "?";
    }
    return std::string(text, static_cast<std::size_t>(size));
}

}  // namespace vorn::py
