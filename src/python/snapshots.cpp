// Python classes of engine snapshots, the snapshot method of the engine and the module functions.
// None of the classes has a constructor: snapshots come from an engine, diffs from two snapshots.
#include "python/snapshots.hpp"

#include "python/toolkit/interruption.hpp"

namespace vorn::py {

using files::TopologyConfig;
using files::TopologyDiff;
using files::TopologyMetadata;
using files::TopologySnapshot;

namespace {

void raise_if(const files::Result<void>& outcome) {
    if (!outcome) throw RuntimeFailure(files::snapshot_error_text(outcome.error()));
}

void save_topology(const Engine& engine, std::string filepath) {
    SignalCheck signals;
    raise_if(files::save_topology(engine, filepath, &signals));
}

void load_topology(Engine& engine, std::string filepath) {
    SignalCheck signals;
    raise_if(files::load_topology(engine, filepath, &signals));
}

TopologyDiff diff_topologies(const TopologySnapshot& snapshot1, const TopologySnapshot& snapshot2) {
    return files::diff_topologies(snapshot1, snapshot2);
}

TopologySnapshot snapshot(const Engine& engine, std::optional<std::string> name, std::optional<std::string> version) {
    files::Result<TopologySnapshot> taken =
        files::take_snapshot(engine, std::move(name).value_or("exported_topology"), std::move(version).value_or("1.0"));
    if (!taken) throw RuntimeFailure(files::snapshot_error_text(taken.error()));
    return std::move(taken).value();
}

}  // namespace

void describe_engine_snapshot_methods(ClassTable<Engine>& table) {
    table.method<&snapshot>("snapshot", {"name", "version"},
                            "Return the snapshot of this engine's network that save_topology would write.\n\n"
                            "name and version default to \"exported_topology\" and \"1.0\". Two snapshots can be\n"
                            "compared with diff_topologies. Raises RuntimeError without a network.");
}

PyMethodDef save_topology_function() {
    return module_function<&save_topology>("save_topology", {"engine", "filepath"});
}

PyMethodDef load_topology_function() {
    return module_function<&load_topology>("load_topology", {"engine", "filepath"});
}

PyMethodDef diff_topologies_function() {
    return module_function<&diff_topologies>("diff_topologies", {"snapshot1", "snapshot2"});
}

PyTypeObject* Bound<TopologySnapshot>::type() noexcept {
    return lazy_type<TopologySnapshot>([](auto& table) { table.described_fields(); });
}

PyTypeObject* Bound<TopologyConfig>::type() noexcept {
    return lazy_type<TopologyConfig>([](auto& table) { table.described_fields(); });
}

PyTypeObject* Bound<TopologyMetadata>::type() noexcept {
    return lazy_type<TopologyMetadata>([](auto& table) { table.described_fields(); });
}

PyTypeObject* Bound<TopologyDiff>::type() noexcept {
    return lazy_type<TopologyDiff>([](auto& table) { table.described_fields(); });
}

}  // namespace vorn::py
