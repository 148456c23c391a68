#include "native/functions.hpp"

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/figure_rules.hpp"
#include "core/physics/network_model.hpp"
#include "core/physics/network_setup.hpp"
#include "native/network_data.hpp"
#include "native/physics_records.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {
namespace {

// (from_node, to, arrival rate in Hz or None, max_outstanding or None)
using DemandTuple = std::tuple<std::string, std::string, std::optional<double>, std::optional<std::uint64_t>>;
// One run, per demand: (requests, waiting times of the delivered pairs in ms, sums of their fidelities and
// error rates e_Z, e_X, pairs delivered on each of its routes); per link: (ms attempting, generated, used, discarded,
// lost, held); per node: (memory-ms in use, most in use at once).
using DemandRun = std::tuple<std::uint64_t, std::vector<double>, double, double, double, std::vector<std::uint64_t>>;
using LinkRun = std::tuple<double, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t>;
using NodeRun = std::tuple<double, std::uint64_t>;
using Run = std::tuple<std::vector<DemandRun>, std::vector<LinkRun>, std::vector<NodeRun>>;

std::tuple<std::vector<std::vector<std::vector<std::string>>>, std::vector<std::tuple<std::string, std::string>>,
           std::vector<std::uint64_t>, std::vector<Run>>
network(std::vector<NodeData> nodes, std::vector<LinkData> links, std::vector<DemandTuple> demands, std::uint64_t paths,
        std::vector<std::optional<std::uint64_t>> memories, std::uint64_t memories_per_link_end, double duration_ms,
        std::uint64_t runs, physics::PhysicalModel model, std::optional<std::uint64_t> strategy, std::uint32_t policy,
        std::uint64_t seed) {
    py::SignalCheck signals;
    const std::vector<LinkDefinition> definitions = links_of(std::move(links));
    std::vector<NodeDefinition> node_records = nodes_of(std::move(nodes));
    check_unique_ids(node_records);
    const QuantumNetwork network = QuantumNetwork::from_definitions(std::move(node_records), definitions);
    if (memories.size() != network.nodes().size()) throw py::ValueFailure("memories: one entry per node is needed");
    std::vector<physics::DemandPair> pairs;
    for (auto& [from_node, to, rate_hz, bound] : demands)
        pairs.push_back({std::move(from_node), std::move(to), rate_hz.value_or(0.0) / kMsPerSecond,
                         static_cast<std::int64_t>(bound.value_or(0))});
    physics::NetworkSetup setup = physics::network_setup(network, definitions, pairs, paths, memories,
                                                         memories_per_link_end, strategy_of(strategy), model, &signals);
    physics::NetworkModel simulated(setup.figures, setup.demands, model,
                                    policy == 1 ? physics::Policy::RoundRobin : physics::Policy::Fifo);
    InterruptionPoll poll(&signals, 1 << 10);
    std::vector<Run> outcomes;
    physics::run_network(simulated, duration_ms, seed, runs, poll, [&](const physics::NetworkOutcome& outcome) {
        Run run;
        for (const physics::DemandTally& demand : outcome.demands)
            std::get<0>(run).emplace_back(demand.requested, demand.waiting_ms, demand.fidelity, demand.error_rate_z,
                                          demand.error_rate_x, demand.delivered_by_route);
        for (const physics::LinkTally& link : outcome.links)
            std::get<1>(run).emplace_back(link.attempting_ms, link.generated, link.used, link.discarded, link.lost,
                                          link.held);
        for (const physics::NodeTally& node : outcome.nodes)
            std::get<2>(run).emplace_back(node.occupied_ms, static_cast<std::uint64_t>(node.most_occupied));
        outcomes.push_back(std::move(run));
    });
    std::vector<std::tuple<std::string, std::string>> ends;
    for (std::size_t definition : setup.link_definitions)
        ends.emplace_back(definitions[definition].from, definitions[definition].to);
    std::vector<std::uint64_t> counts;
    for (std::int64_t count : setup.figures.memories) counts.push_back(static_cast<std::uint64_t>(count));
    return {std::move(setup.paths), std::move(ends), std::move(counts), std::move(outcomes)};
}

}  // namespace

PyMethodDef physics_network_function() {
    return py::module_function<&network>(
        "physics_network", {"nodes", "links", "demands", "paths", "memories", "memories_per_link_end", "duration_ms",
                            "runs", "model", "strategy", "policy", "seed"});
}

}  // namespace vorn::native
