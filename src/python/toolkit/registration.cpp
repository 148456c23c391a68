#include "python/toolkit/registration.hpp"

#include <string>

namespace vorn::py {

namespace {

bool append_to_all(PyObject* module, const char* name) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text || !PyList_Check(all.get()) || PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        raise_panic("could not append __name__ to __all__");
        return false;
    }
    return true;
}

bool add(PyObject* module, const char* name, PyObject* value) {
    return append_to_all(module, name) && PyObject_SetAttrString(module, name, value) == 0;
}

// "An error occurred while initializing class X", caused by whatever failed underneath.
void explain_class_failure(const char* name) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref cause = Ref::steal(value);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    std::string text = std::string("An error occurred while initializing class ") + name;
    Ref error = Ref::steal(PyObject_CallFunction(PyExc_RuntimeError, "s", text.c_str()));
    if (!error) return;
    if (cause) PyException_SetCause(error.get(), cause.release());
    PyErr_SetObject(PyExc_RuntimeError, error.get());
}

bool register_one(PyObject* module, const Registration& entry) {
    if (entry.type) {
        PyTypeObject* type = entry.type();
        if (!type) {
            explain_class_failure(entry.name);
            return false;
        }
        return add(module, entry.name, reinterpret_cast<PyObject*>(type));
    }
    if (entry.alias_of) {
        Ref original = Ref::steal(PyObject_GetAttrString(module, entry.alias_of));
        return original && add(module, entry.name, original.get());
    }
    Ref name = Ref::steal(PyModule_GetNameObject(module));
    if (!name) return false;
    Ref function = Ref::steal(PyCFunction_NewEx(entry.function, module, name.get()));
    return function && add(module, entry.function->ml_name, function.get());
}

}  // namespace

bool register_all(PyObject* module, const std::vector<Registration>& entries) noexcept {
    for (const auto& entry : entries)
        if (!register_one(module, entry)) return false;
    return true;
}

}  // namespace vorn::py
