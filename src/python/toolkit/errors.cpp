#include "python/toolkit/errors.hpp"

#include <new>
#include <vector>

#include "python/toolkit/handle.hpp"

namespace vorn::py {

namespace {

std::vector<Translator>& translators() {
    static std::vector<Translator> list;
    return list;
}

// Kept for the life of the process, like the type objects; built again if it failed.
KeptRef& panic_type() {
    static KeptRef type;
    return type;
}

}  // namespace

void adopt_panic_exception(PyObject* type) noexcept { panic_type() = KeptRef(Ref::borrow(type)); }

PyObject* panic_exception_type() noexcept {
    KeptRef& type = panic_type();
    if (!type.get())
        type = KeptRef(Ref::steal(PyErr_NewExceptionWithDoc("vorn_core.PanicException",
                                                            "An internal failure: a broken invariant of the library.",
                                                            PyExc_BaseException, nullptr)));
    return type.get();
}

void set_error(PyObject* type, const std::string& message) noexcept {
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(type, text.get());
}

void raise_panic(const std::string& message) noexcept {
    if (PyObject* type = panic_exception_type()) set_error(type, message);
}

void add_translator(Translator translator) { translators().push_back(translator); }

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorAlreadySet&) {
        return;
    } catch (const Failure& failure) {
        set_error(failure.type(), failure.message());
        return;
    } catch (...) {}
    for (Translator translate : translators())
        if (translate()) return;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& other) {
        raise_panic(other.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
}

namespace {

// Replaces a pending TypeError (exactly that type) by one whose message is `prefix` then the first
// message, with the first as its cause.
void prefix_type_error(PyObject* prefix) noexcept {
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
    Ref message = Ref::steal(PyUnicode_Concat(prefix, text.get()));
    if (!message) return;
    Ref error = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!error) return;
    PyException_SetCause(error.get(), cause.release());
    PyErr_SetObject(PyExc_TypeError, error.get());
}

}  // namespace

void prefix_argument_error(const char* name) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    Ref prefix = Ref::steal(PyUnicode_FromFormat("argument '%s': ", name));
    if (prefix) prefix_type_error(prefix.get());
}

void prefix_field_error(PyObject* name) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    Ref prefix = Ref::steal(PyUnicode_FromFormat("field '%U': ", name));
    if (prefix) prefix_type_error(prefix.get());
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
