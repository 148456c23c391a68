// The classes and functions of vorn._native, in the order they are registered; each area adds its own.
#pragma once

#include <vector>

#include "python/toolkit/registration.hpp"

namespace vorn::native {

const std::vector<py::Registration>& functions();

// ensemble.cpp
PyMethodDef simulate_function();

// physics.cpp
PyMethodDef physics_route_function();
PyMethodDef physics_simulate_function();
PyMethodDef physics_trials_function();

// route_search.cpp
PyMethodDef route_search_estimate_function();

// files.cpp
PyMethodDef check_vorn_file_function();
PyMethodDef file_format_function();

// networks.cpp: the reference topologies, the networks of .vorn file records and the engine's default
// configuration as the plain data the other functions take, by the rules vorn_core itself uses
PyMethodDef engine_default_config_function();
PyMethodDef reference_network_function();
PyMethodDef vorn_network_function();

// file_diff.cpp: the diff of two .vorn files as structured data
PyMethodDef diff_vorn_files_function();

// model_inputs.cpp
PyMethodDef model_inputs_function();
PyMethodDef class_tables_function();

}  // namespace vorn::native
