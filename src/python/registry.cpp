// The module's one ordered registration list, and the engine's class composed from the pieces of
// each area. Classes and functions take their numbered places here.
#include "python/registry.hpp"

#include "python/classes.hpp"
#include "python/files.hpp"
#include "python/protocols.hpp"
#include "python/snapshots.hpp"
#include "python/topology.hpp"

namespace vorn::py {

// The engine's class, composed from the pieces of each area in the order of its method table.
// The snapshots' piece ends the table.
PyTypeObject* Bound<Engine>::type() noexcept {
    return lazy_type<Engine>([](ClassTable<Engine>& table) {
        describe_engine(table);
        describe_engine_file_methods(table);
        describe_engine_protocol_methods(table);
        describe_engine_snapshot_methods(table);
    });
}

namespace {

Registration function(PyMethodDef (*describe)()) {
    // The interpreter keeps a pointer to the definition for the life of the function object.
    auto* definition = new PyMethodDef(describe());
    return {definition->ml_name, nullptr, definition};
}

Registration alias(const char* name, const char* original) { return {name, nullptr, nullptr, original}; }

}  // namespace

const std::vector<Registration>& registrations() {
    static const std::vector<Registration> list = {
        register_class<Engine>(),                          // 1
        register_class<PhysicalConfig>(),                  // 2
        register_class<LinkDefinition>(),                  // 3
        register_class<SatelliteConditions>(),             // 4
        register_class<EntanglementRequest>(),             // 5
        register_class<MonteCarloStats>(),                 // 6
        register_class<TopologyComparisonResult>(),        // 7
        register_class<TopologyComparisonReport>(),        // 8
        register_class<LinkType>(),                        // 9
        register_class<StrategyType>(),                    // 10
        register_class<SimulationConfig>(),                // 11
        register_class<NodeDefinition>(),                  // 12
        register_class<NetworkTopologyPayload>(),          // 13
        register_class<VornFileValue>(),                   // 14
        register_class<files::VornNode>(),                 // 15
        register_class<files::VornLink>(),                 // 16
        register_class<files::VornConfig>(),               // 17
        register_class<files::VornConstraints>(),          // 18
        register_class<files::VornMetadata>(),             // 19
        register_class<files::VornNodeType>(),             // 20
        register_class<files::VornLinkType>(),             // 21
        register_class<files::VornSatelliteExtension>(),   // 22
        register_class<TopologyEndpoints>(),               // 23
        register_class<QKDParameters>(),                   // 24
        register_class<QKDResult>(),                       // 25
        register_class<QKDStats>(),                        // 26
        register_class<TeleportationParameters>(),         // 27
        register_class<TeleportationOutcome>(),            // 28
        register_class<TeleportationStats>(),              // 29
        register_class<BasisType>(),                       // 30
        register_class<CoordinationTopology>(),            // 31
        register_class<MeasurementBasis>(),                // 32
        register_class<DistributedComputingParameters>(),  // 33
        register_class<PartyOutcome>(),                    // 34
        register_class<DistributedComputingResult>(),      // 35
        register_class<DistributedComputingStats>(),       // 36
        function(generate_topology_function),              // 37
        function(compare_topologies_function),             // 38
        function(save_topology_function),                  // 39
        function(load_topology_function),                  // 40
        function(validate_function),                       // 41
        function(load_vorn_file_function),                 // 42
        function(diff_function),                           // 43
        function(diff_topologies_function),                // 44
        function(from_vorn_file_function),                 // 45
        alias("load", "load_vorn_file"),                   // 46
        function(save_vorn_file_wrapper_function),         // 47
        alias("save", "save_vorn_file_wrapper"),           // 48
        function(qkd_function),                            // 49
        function(teleportation_function),                  // 50
        function(distributed_computation_function),        // 51
    };
    return list;
}

bool build_unregistered_classes() noexcept {
    return Bound<SimulationResult>::type() && Bound<MonteCarloContext>::type() &&
           Bound<files::TopologySnapshot>::type() && Bound<files::TopologyConfig>::type() &&
           Bound<files::TopologyMetadata>::type() && Bound<files::TopologyDiff>::type();
}

}  // namespace vorn::py
