// Python classes of the reference topologies and their comparison, and the module functions over them.
#pragma once

#include "core/topology/comparison.hpp"
#include "python/classes.hpp"

namespace vorn::py {

VORN_PYTHON_CLASS(vorn::TopologyEndpoints, "TopologyEndpoints");
VORN_PYTHON_CLASS(vorn::TopologyComparisonResult, "TopologyComparisonResult");
VORN_PYTHON_CLASS(vorn::TopologyComparisonReport, "TopologyComparisonReport");

// Module functions, in the order they are registered.
PyMethodDef generate_topology_function();
PyMethodDef compare_topologies_function();

}  // namespace vorn::py
