#include "native/functions.hpp"

#include <optional>
#include <string>
#include <vector>

#include "core/figure_rules.hpp"
#include "core/physics/network_model.hpp"
#include "core/physics/network_report.hpp"
#include "core/physics/network_setup.hpp"
#include "native/network_data.hpp"
#include "native/physics_records.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {
namespace {

physics::NetworkRuns network(std::vector<NodeData> nodes, std::vector<LinkData> links,
                             std::vector<py::Loose<physics::NetworkDemand>> demands,
                             std::vector<std::optional<std::uint64_t>> memories, std::uint64_t memories_per_link_end,
                             double duration_ms, std::uint64_t count, physics::PhysicalModel model,
                             std::optional<std::uint64_t> strategy, std::uint32_t policy, std::uint64_t seed) {
    py::SignalCheck signals;
    const std::vector<LinkDefinition> definitions = links_of(std::move(links));
    std::vector<NodeDefinition> node_records = nodes_of(std::move(nodes));
    check_unique_ids(node_records);
    const QuantumNetwork network = QuantumNetwork::from_definitions(std::move(node_records), definitions);
    if (memories.size() != network.nodes().size()) throw py::ValueFailure("memories: one entry per node is needed");
    std::vector<physics::DemandPair> pairs;
    for (const py::Loose<physics::NetworkDemand>& demand : demands) pairs.push_back(physics::pair_of(demand.value));
    physics::NetworkSetup setup = physics::network_setup(network, definitions, pairs, memories, memories_per_link_end,
                                                         strategy_of(strategy), model, &signals);
    physics::NetworkModel simulated(setup.figures, setup.demands, model,
                                    policy == 1 ? physics::Policy::RoundRobin : physics::Policy::Fifo);
    InterruptionPoll poll(&signals, 1 << 10);
    physics::NetworkRuns runs{{}, {}, std::move(setup.paths), {}, duration_ms, seed, {}};
    physics::run_network(simulated, duration_ms, seed, count, poll,
                         [&](const physics::NetworkOutcome& outcome) { runs.runs.push_back(outcome); });
    for (const NodeDefinition& node : network.nodes()) runs.nodes.push_back(node.id);
    for (std::int64_t held : setup.figures.memories) runs.memories.push_back(static_cast<std::uint64_t>(held));
    for (std::size_t definition : setup.link_definitions)
        runs.links.emplace_back(definitions[definition].from, definitions[definition].to);
    return runs;
}

physics::NetworkReport network_stats(physics::NetworkRuns runs, std::string policy) {
    return physics::network_report(runs, std::move(policy));
}

}  // namespace

PyMethodDef physics_network_stats_function() {
    return py::module_function<&network_stats>("physics_network_stats", {"runs", "policy"});
}

PyMethodDef physics_network_function() {
    return py::module_function<&network>(
        "physics_network", {"nodes", "links", "demands", "memories", "memories_per_link_end", "duration_ms", "runs",
                            "model", "strategy", "policy", "seed"});
}

}  // namespace vorn::native
