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

// The engine method that defines its network from a loaded file.
void define_network_from_vorn(Engine& engine, VornFileValue file);
inline constexpr const char* define_network_from_vorn_doc =
    "Load a topology from a loaded .vorn file directly into the engine.\n\n"
    "Nodes and links are taken in file order; the file's config is not used.";

// Module functions, in the order they are registered.
PyMethodDef validate_function();
PyMethodDef load_vorn_file_function();
PyMethodDef diff_function();
PyMethodDef from_vorn_file_function();
PyMethodDef save_vorn_file_wrapper_function();

}  // namespace vorn::py
