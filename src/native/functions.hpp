// The classes and functions of vorn._native, in the order they are registered; each area adds its own.
#pragma once

#include <vector>

#include "python/toolkit/registration.hpp"

namespace vorn::native {

const std::vector<py::Registration>& functions();

// The physical constants and configuration defaults of core/network.hpp and files/vorn_bridge.hpp, and the
// level and quantiles the results report (core/physics/report.hpp), as
// module attributes (FIBRE_SPEED_KM_MS, ...); false with the Python error set on failure.
bool add_constants(PyObject* module) noexcept;

// ensemble.cpp
PyMethodDef simulate_function();
PyMethodDef replicate_seeds_function();

// physics.cpp
PyMethodDef physics_route_function();
PyMethodDef physics_simulate_function();
PyMethodDef physics_trials_function();
PyMethodDef binary_entropy_function();
PyMethodDef secret_fraction_function();

// physics_network.cpp
PyMethodDef physics_network_function();
PyMethodDef physics_network_stats_function();

// route_search.cpp
PyMethodDef route_search_estimate_function();

// files.cpp
PyMethodDef check_vorn_file_function();
PyMethodDef file_format_function();

// networks.cpp: the reference topologies, the networks of .vorn files and the engine's default
// configuration as vorn_core's records, .vorn files of networks, and the ranges of figures
PyMethodDef engine_default_config_function();
PyMethodDef reference_network_function();
PyMethodDef load_network_function();
PyMethodDef file_network_function();
PyMethodDef vorn_file_function();
PyMethodDef definition_figures_function();
PyMethodDef check_figure_function();

// file_diff.cpp: the diff of two .vorn files as structured data
PyMethodDef diff_vorn_files_function();

// model_inputs.cpp
PyMethodDef model_inputs_function();
PyMethodDef class_tables_function();

}  // namespace vorn::native
