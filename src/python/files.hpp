// Python classes of the .vorn file records and the functions that load, save, validate and diff.
#pragma once

#include "files/vorn_file.hpp"
#include "python/classes.hpp"

namespace vorn::py {

// A file as Python holds it: every link has an id (possibly empty), and `extensions` is any
// Python object, never written to disk.
struct VornFileValue {
    std::string version = "1.0";
    files::VornMetadata metadata;
    std::vector<files::VornNode> nodes;
    std::vector<files::VornLink> links;
    std::optional<files::VornConfig> config;
    std::optional<files::VornConstraints> constraints;
    Ref extensions;
};

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
