// The physical model of repeater chains, as vorn.physics calls it.
#pragma once

#include <vector>

#include "python/toolkit/registration.hpp"

namespace vorn::native {

std::vector<py::Registration> physics_functions();

}  // namespace vorn::native
