#include "python/toolkit/class_table.hpp"

namespace vorn::py {

PyObject* field_getter(PyObject* self, void* closure) noexcept { return static_cast<FieldAccess*>(closure)->get(self); }

int field_setter(PyObject* self, PyObject* value, void* closure) noexcept {
    return static_cast<FieldAccess*>(closure)->set(self, value);
}

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

}  // namespace vorn::py
