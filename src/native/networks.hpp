// Networks and configurations that the companion takes from vorn_core's own sources (the reference
// topologies, .vorn files, the engine's defaults) as the plain data its other functions take, by the
// rules vorn_core itself uses.
#pragma once

#include "python/toolkit/python.hpp"

namespace vorn::native {

PyMethodDef engine_default_config_function();
PyMethodDef reference_network_function();
PyMethodDef vorn_network_function();

}  // namespace vorn::native
