// vorn._native: the companion's private native module, built from the same core library as
// vorn_core, for the work beyond vorn_core's registered surface that needs native speed. Its
// functions take and return vorn_core's own records (and plain data), so vorn_core's classes and behaviour
// never move for it.
#include "native/functions.hpp"
#include "python/toolkit/core_failures.hpp"
#include "python/toolkit/registration.hpp"

namespace vorn::native {

namespace {

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "vorn._native",
    "Native helpers of the vorn companion package (private: use vorn's public modules).",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace vorn::native

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    using namespace vorn::py;
    // Internal failures surface as vorn_core's own PanicException.
    Ref core = Ref::steal(PyImport_ImportModule("vorn_core"));
    if (!core) return nullptr;
    Ref panic = Ref::steal(PyObject_GetAttrString(core.get(), "PanicException"));
    if (!panic) return nullptr;
    adopt_panic_exception(panic.get());
    Ref module = Ref::steal(PyModule_Create(&vorn::native::definition));
    if (!module) return nullptr;
    bool registered = guarded(
        [&] {
            translate_core_failures();
            return register_all(module.get(), vorn::native::functions()) && vorn::native::add_constants(module.get());
        },
        false);
    if (!registered) return nullptr;
    return module.release();
}
