// What the network model takes and reports as records that leave the library: a demand as a caller
// states it, the tallies of each run (which travel between the processes that share the runs), and the
// figures over all runs, per demand, per link and per node, with the account of every pair the links made.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/physics/network_model.hpp"
#include "core/physics/network_setup.hpp"
#include "describe/record.hpp"

namespace vorn::physics {

// Pairs wanted between two nodes: always (no rate) or per request of a Poisson process.
struct NetworkDemand {
    std::string from_node;
    std::string to;
    std::optional<double> arrival_rate_hz;
    std::optional<std::int64_t> max_outstanding;

    friend bool operator==(const NetworkDemand&, const NetworkDemand&) = default;
};

constexpr auto description(const NetworkDemand*) {
    using namespace describe;
    using D = NetworkDemand;
    return record<D>(
        field<&D::from_node>("from_node", "Identifier of the node at one end of the pairs"),
        field<&D::to>("to", "Identifier of the node at the other end"),
        field<&D::arrival_rate_hz>("arrival_rate_hz",
                                   "Rate of the requests, a Poisson process, each wanting one pair; None: a pair is "
                                   "always wanted (saturated)",
                                   "Hz", kOptional),
        field<&D::max_outstanding>("max_outstanding", "Requests in progress at once, at most; None: no bound",
                                   kOptional));
}

// Throws InvalidValue for a rate that is not positive and finite, or a bound below 1.
void check_demand(const NetworkDemand& demand);

// The demand as the model's setup takes it.
DemandPair pair_of(const NetworkDemand& demand);

constexpr auto description(const DemandTally*) {
    using namespace describe;
    using D = DemandTally;
    return record<D>(
        field<&D::requested>("requested", "Requests that arrived (saturated: that started)"),
        field<&D::waiting_ms, AsTuple>("waiting_ms", "Waiting time of each delivered pair from its request", "ms"),
        field<&D::fidelity>("fidelity", "Sum of the delivered pairs' fidelities"),
        field<&D::error_rate_z>("error_rate_z", "Sum of the delivered pairs' error rates e_Z"),
        field<&D::error_rate_x>("error_rate_x", "Sum of the delivered pairs' error rates e_X"));
}

constexpr auto description(const LinkTally*) {
    using namespace describe;
    using L = LinkTally;
    return record<L>(field<&L::attempting_ms>("attempting_ms", "Time the link attempted", "ms"),
                     field<&L::generated>("generated", "Pairs generated"),
                     field<&L::used>("used", "Pairs used in delivered pairs"),
                     field<&L::discarded>("discarded", "Pairs discarded by the cut-off"),
                     field<&L::lost>("lost", "Pairs lost in failed swaps"),
                     field<&L::held>("held", "Pairs held by requests in progress at the end"));
}

constexpr auto description(const NodeTally*) {
    using namespace describe;
    using N = NodeTally;
    return record<N>(field<&N::occupied_ms>("occupied_ms", "Integral over time of the memories in use", "ms"),
                     field<&N::most_occupied>("most_occupied", "Memories in use at once, at most"));
}

constexpr auto description(const NetworkOutcome*) {
    using namespace describe;
    using O = NetworkOutcome;
    return record<O>(field<&O::duration_ms>("duration_ms", "Network time of the run", "ms"),
                     field<&O::demands, AsTuple>("demands", "Per demand, in the order asked"),
                     field<&O::links, AsTuple>("links", "Per link that some route takes"),
                     field<&O::nodes, AsTuple>("nodes", "Per node of the network, in order"));
}

// Runs of one network and its demands: where the tallies of each run belong, and the runs themselves.
struct NetworkRuns {
    std::vector<std::string> nodes;
    std::vector<std::uint64_t> memories;
    std::vector<std::vector<std::string>> paths;
    std::vector<std::pair<std::string, std::string>> links;
    double duration_ms = 0.0;
    std::uint64_t seed = 0;
    std::vector<NetworkOutcome> runs;
};

constexpr auto description(const NetworkRuns*) {
    using namespace describe;
    using R = NetworkRuns;
    return record<R>(field<&R::nodes, AsTuple>("nodes", "Identifiers of the network's nodes, in order"),
                     field<&R::memories, AsTuple>("memories", "Memory qubits of each node"),
                     field<&R::paths, AsTuple>("paths", "Each demand's route, by its nodes' identifiers"),
                     field<&R::links, AsTuple>("links", "Ends of each link that some route takes"),
                     field<&R::duration_ms>("duration_ms", "Network time of each run", "ms"),
                     field<&R::seed>("seed", "Seed of the first run; run i used seed + i"),
                     field<&R::runs, AsTuple>("runs", "The tallies of each run, in seed order"));
}

struct DemandReport {
    std::string from_node;
    std::string to;
    std::vector<std::string> path;
    std::uint64_t requested = 0;
    std::uint64_t delivered = 0;
    double throughput_hz = 0.0;
    std::pair<double, double> throughput_hz_interval;
    double mean_waiting_time_ms = 0.0;
    std::pair<double, double> waiting_time_ms_interval;
    std::vector<std::pair<double, double>> waiting_time_ms_quantiles;
    double mean_fidelity = 0.0;
    double secret_key_rate_bps = 0.0;
    std::pair<double, double> secret_key_rate_bps_interval;

    friend bool operator==(const DemandReport&, const DemandReport&) = default;
};

constexpr auto description(const DemandReport*) {
    using namespace describe;
    using D = DemandReport;
    return record<D>(
        field<&D::from_node>("from_node", "Identifier of the demand's first node"),
        field<&D::to>("to", "Identifier of its other node"),
        field<&D::path, AsTuple>("path", "Its route, by its nodes' identifiers"),
        field<&D::requested>("requested", "Requests over all runs (saturated: that started)"),
        field<&D::delivered>("delivered", "Pairs delivered over all runs"),
        field<&D::throughput_hz>("throughput_hz", "Pairs delivered per second of network time, mean over the runs",
                                 "Hz"),
        field<&D::throughput_hz_interval>("throughput_hz_interval",
                                          "95 % normal interval of the throughput over the runs", "Hz"),
        field<&D::mean_waiting_time_ms>("mean_waiting_time_ms",
                                        "Mean waiting time of the delivered pairs from request to delivery (NaN "
                                        "without any)",
                                        "ms"),
        field<&D::waiting_time_ms_interval>("waiting_time_ms_interval",
                                            "95 % normal interval of the runs' mean waiting times", "ms"),
        field<&D::waiting_time_ms_quantiles, Mapping>(
            "waiting_time_ms_quantiles", "Quantiles of the delivered pairs' waiting times, by level", "ms"),
        field<&D::mean_fidelity>("mean_fidelity", "Mean fidelity of the delivered pairs (NaN without any)"),
        field<&D::secret_key_rate_bps>("secret_key_rate_bps",
                                       "Throughput times the secret fraction max(0, 1 - h(e_Z) - h(e_X)) of the "
                                       "delivered pairs' mean error rates",
                                       "bit/s"),
        field<&D::secret_key_rate_bps_interval>("secret_key_rate_bps_interval",
                                                "The throughput's interval times the secret fraction", "bit/s"));
}

struct LinkReport {
    std::string from_node;
    std::string to;
    double attempting_fraction = 0.0;
    std::uint64_t generated = 0;
    std::uint64_t used = 0;
    std::uint64_t discarded = 0;
    std::uint64_t lost = 0;
    std::uint64_t held = 0;

    friend bool operator==(const LinkReport&, const LinkReport&) = default;
};

constexpr auto description(const LinkReport*) {
    using namespace describe;
    using L = LinkReport;
    return record<L>(field<&L::from_node>("from_node", "Identifier of the link's first node"),
                     field<&L::to>("to", "Identifier of its other node"),
                     field<&L::attempting_fraction>("attempting_fraction", "Share of the network time it attempted"),
                     field<&L::generated>("generated", "Pairs it generated over all runs"),
                     field<&L::used>("used", "Of those, pairs used in delivered pairs"),
                     field<&L::discarded>("discarded", "Pairs discarded by the cut-off"),
                     field<&L::lost>("lost", "Pairs lost in failed swaps"),
                     field<&L::held>("held", "Pairs held by requests in progress at the end of a run"));
}

struct NodeReport {
    std::string node;
    std::uint64_t memories = 0;
    double mean_occupied = 0.0;
    std::int64_t most_occupied = 0;

    friend bool operator==(const NodeReport&, const NodeReport&) = default;
};

constexpr auto description(const NodeReport*) {
    using namespace describe;
    using N = NodeReport;
    return record<N>(field<&N::node>("node", "Identifier of the node"),
                     field<&N::memories>("memories", "Its memory qubits, shared by every route through it"),
                     field<&N::mean_occupied>("mean_occupied", "Memories in use, mean over the network time"),
                     field<&N::most_occupied>("most_occupied", "Memories in use at once, at most over all runs"));
}

struct NetworkReport {
    double duration_ms = 0.0;
    std::uint64_t replicates = 0;
    std::uint64_t seed = 0;
    std::string policy;
    std::vector<DemandReport> demands;
    std::vector<LinkReport> links;
    std::vector<NodeReport> nodes;
    double throughput_hz = 0.0;
    double fairness = 0.0;
    std::uint64_t generated = 0;
    std::uint64_t used = 0;
    std::uint64_t discarded = 0;
    std::uint64_t lost = 0;
    std::uint64_t held = 0;

    friend bool operator==(const NetworkReport&, const NetworkReport&) = default;
};

constexpr auto description(const NetworkReport*) {
    using namespace describe;
    using N = NetworkReport;
    return record<N>(
        field<&N::duration_ms>("duration_ms", "Network time of each run", "ms"),
        field<&N::replicates>("replicates", "Runs"),
        field<&N::seed>("seed", "Seed of the first run; run i used seed + i"),
        field<&N::policy>("policy", "Who gets a link's pair: 'fifo' or 'round_robin'"),
        field<&N::demands, AsTuple>("demands", "Per demand, in the order asked"),
        field<&N::links, AsTuple>("links", "Per link that some route takes"),
        field<&N::nodes, AsTuple>("nodes", "Per node of the network, in order"),
        field<&N::throughput_hz>("throughput_hz", "Total throughput of the demands", "Hz"),
        field<&N::fairness>("fairness",
                            "Jain's index of the throughputs, (Σx)² / (n Σx²): 1 when all are equal (NaN when all "
                            "are 0)"),
        field<&N::generated>("generated", "Pairs the links generated, all of them used, discarded, lost or held"),
        field<&N::used>("used", "Pairs used in delivered pairs"),
        field<&N::discarded>("discarded", "Pairs discarded by the cut-off"),
        field<&N::lost>("lost", "Pairs lost in failed swaps"),
        field<&N::held>("held", "Pairs held by requests in progress at the end of a run"));
}

// The figures over `runs` (which must all have the tallies of its demands, links and nodes; InvalidValue
// otherwise). Intervals are normal intervals of the mean over the runs; quantiles are of the pooled
// waiting times.
NetworkReport network_report(const NetworkRuns& runs, std::string policy);

}  // namespace vorn::physics
