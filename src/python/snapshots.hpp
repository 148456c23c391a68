// Python classes of engine snapshots and the module functions that save, load and compare them.
#pragma once

#include "files/snapshot.hpp"
#include "python/classes.hpp"

namespace vorn::py {

VORN_PYTHON_CLASS(files::TopologySnapshot, "TopologySnapshot");
VORN_PYTHON_CLASS(files::TopologyConfig, "TopologyConfig");
VORN_PYTHON_CLASS(files::TopologyMetadata, "TopologyMetadata");
VORN_PYTHON_CLASS(files::TopologyDiff, "TopologyDiff");

// The snapshots' piece of the engine's class: snapshot, the last method of the table.
void describe_engine_snapshot_methods(ClassTable<Engine>& table);

// Module functions, in the order they are registered.
PyMethodDef save_topology_function();
PyMethodDef load_topology_function();
PyMethodDef diff_topologies_function();

}  // namespace vorn::py
