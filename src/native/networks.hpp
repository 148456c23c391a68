// Networks that the companion takes from vorn_core's own sources — the reference topologies and
// .vorn files — turned into the plain data its other functions take, by the rules vorn_core uses.
#pragma once

#include "python/toolkit/python.hpp"

namespace vorn::native {

PyMethodDef reference_network_function();
PyMethodDef vorn_network_function();

}  // namespace vorn::native
