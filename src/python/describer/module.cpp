// _vorn_describe: a build-time module holding vorn_core's class tables, for tools/generate-stubs.
// It builds every class and function as vorn_core does and returns what each says of itself; it is
// never installed.
#include "python/glossary.hpp"
#include "python/registry.hpp"
#include "python/toolkit/self_description.hpp"

namespace vorn::py {

namespace {

Ref describe_vorn_core() { return describe_module(registrations(), parameter_glossary(), &build_unregistered_classes); }

}  // namespace

}  // namespace vorn::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vorn_describe() {
    using namespace vorn::py;
    static PyMethodDef methods[2] = {};
    static PyModuleDef definition = {
        PyModuleDef_HEAD_INIT, "_vorn_describe", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};
    if (!guarded(
            [&] {
                methods[0] = module_function<&describe_vorn_core>("describe", {});
                return true;
            },
            false))
        return nullptr;
    return PyModule_Create(&definition);
}
