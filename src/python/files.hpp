// Python classes of the .vorn file records and the functions that load, save, validate and diff.
#pragma once

#include "files/vorn_file.hpp"
#include "python/classes.hpp"

namespace vorn::py {

// A file as Python holds it: every link has an id (possibly empty), and `extensions` is any
// Python object in place of the file's own, never written to disk.
struct VornFileValue {
    files::VornFile file;
    Ref extensions;
};

constexpr auto description(const VornFileValue*) {
    using namespace describe;
    return record<VornFileValue>(
        embed<&VornFileValue::file>(Rename{"extensions", ""}),
        field<&VornFileValue::extensions>("extensions", "Any Python object, kept with the file but never saved"));
}

VORN_PYTHON_CLASS(VornFileValue, "VornFile");
VORN_PYTHON_CLASS(files::VornNode, "VornNode");
VORN_PYTHON_CLASS(files::VornLink, "VornLink");
VORN_PYTHON_CLASS(files::VornConfig, "VornConfig");
VORN_PYTHON_CLASS(files::VornConstraints, "VornConstraints");
VORN_PYTHON_CLASS(files::VornMetadata, "VornMetadata");
VORN_PYTHON_CLASS(files::VornNodeType, "VornNodeType");
VORN_PYTHON_CLASS(files::VornLinkType, "VornLinkType");
VORN_PYTHON_CLASS(files::VornSatelliteExtension, "VornSatelliteExtension");

// The files' piece of the engine's class: define_network_from_vorn.
void describe_engine_file_methods(ClassTable<Engine>& table);

// Module functions, in the order they are registered.
PyMethodDef validate_function();
PyMethodDef load_vorn_file_function();
PyMethodDef diff_function();
PyMethodDef from_vorn_file_function();
PyMethodDef save_vorn_file_wrapper_function();

}  // namespace vorn::py
