// The module's init function: it creates the module and runs the one registration list.
#include "python/registry.hpp"
#include "python/toolkit/core_failures.hpp"

namespace vorn::py {

namespace {

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "vorn_core",
    "The top-level Python module registration.",
    0,  // not -1: a repeated import must reach the init function so that it can refuse
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool initialised = false;

}  // namespace

}  // namespace vorn::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_vorn_core() {
    using namespace vorn::py;
    if (initialised) {
        PyErr_SetString(PyExc_ImportError, "vorn_core may only be initialized once per interpreter process");
        return nullptr;
    }
    Ref module = Ref::steal(PyModule_Create(&definition));
    if (!module) return nullptr;
    // Reachable by name for `except vorn_core.PanicException`, though not part of __all__.
    PyObject* panic = panic_exception_type();
    if (!panic || PyModule_AddObjectRef(module.get(), "PanicException", panic) < 0) return nullptr;
    bool registered = guarded(
        [&] {
            translate_core_failures();
            return register_all(module.get(), registrations());
        },
        false);
    if (!registered) return nullptr;
    initialised = true;
    return module.release();
}
