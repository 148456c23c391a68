// Adding classes and functions to the module, in one ordered list.
#pragma once

#include "python/toolkit/callables.hpp"
#include "python/toolkit/class_table.hpp"

namespace vorn::py {

// One entry of the module's registration list: a class or a function (or an alias of the
// function registered just before it).
struct Registration {
    const char* name;
    PyTypeObject* (*type)() noexcept = nullptr;
    PyMethodDef* function = nullptr;
    const char* alias_of = nullptr;
};

template <BoundClass T>
Registration register_class() {
    return {Bound<T>::name, &Bound<T>::type};
}

// Runs the list in order; stops at the first failure with the Python error set.
bool register_all(PyObject* module, const std::vector<Registration>& entries) noexcept;

}  // namespace vorn::py
