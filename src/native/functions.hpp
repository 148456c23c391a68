// The functions of vorn._native, in the order they are registered; each area adds its own.
#pragma once

#include <vector>

#include "python/toolkit/registration.hpp"

namespace vorn::native {

const std::vector<py::Registration>& functions();

// ensemble.cpp
PyMethodDef simulate_function();

// physics.cpp
PyMethodDef physics_check_model_function();
PyMethodDef physics_route_function();
PyMethodDef physics_simulate_function();
PyMethodDef physics_trials_function();

// files.cpp
PyMethodDef check_vorn_file_function();
PyMethodDef file_format_function();

}  // namespace vorn::native
