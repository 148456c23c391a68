// The registration list of vorn_core, in the order of its __all__.
#pragma once

#include <vector>

#include "python/toolkit/registration.hpp"

namespace vorn::py {

const std::vector<Registration>& registrations();

// The classes the library hands out without registering them; false with the error set on failure.
bool build_unregistered_classes() noexcept;

}  // namespace vorn::py
