// Distributed computation among several parties: one entangled pair per link of a coordination
// topology, each party's fidelity from the links that touch it, and their product for the whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/engine.hpp"
#include "core/failure.hpp"
#include "describe/record.hpp"

namespace vorn {

enum class BasisType : std::uint8_t { GHZ = 0, Cluster = 1, GraphGraph = 2 };

constexpr auto description(const BasisType*) {
    using namespace describe;
    using B = BasisType;
    return enumeration<B>(Member<B>{B::GHZ, "GHZ", "a GHZ state"}, Member<B>{B::Cluster, "Cluster", "a cluster state"},
                          Member<B>{B::GraphGraph, "GraphGraph", "a graph state"});
}

using NodePair = std::pair<std::string, std::string>;

// A coordination topology as a caller describes it: a kind by name, with what that kind needs.
struct CoordinationTopology {
    std::string kind;
    std::optional<std::string> center_node;
    std::optional<std::vector<NodePair>> edges;
};

constexpr auto description(const CoordinationTopology*) {
    using namespace describe;
    using T = CoordinationTopology;
    return record<T>(field<&T::kind>("kind", "\"star\", \"ring\" or \"mesh\"; any other kind uses the explicit edges"),
                     field<&T::center_node>("center_node", "Center of a star", kOptional),
                     field<&T::edges>("edges", "Explicit links between participants, for any other kind", kOptional));
}

// The protocol's own form of a coordination topology.
struct StarCoordination {
    std::string center_node;
};
struct RingCoordination {};
struct MeshCoordination {};
struct ArbitraryCoordination {
    std::vector<NodePair> edges;
};
using Coordination = std::variant<StarCoordination, RingCoordination, MeshCoordination, ArbitraryCoordination>;

// "star", "ring" and "mesh" exactly, byte for byte; any other kind is an explicit edge list.
Coordination coordination_of(const CoordinationTopology& topology);

struct MeasurementBasis {
    BasisType basis_type = BasisType::GHZ;
    double correlation_strength = 0.85;
};

constexpr auto description(const MeasurementBasis*) {
    using namespace describe;
    using M = MeasurementBasis;
    return record<M>(field<&M::basis_type>("basis_type", "Entangled state measured (GHZ when omitted)", kOptional),
                     field<&M::correlation_strength>(
                         "correlation_strength", "Factor of every party's fidelity (0.85 when omitted)", kOptional));
}

struct DistributedComputingParameters {
    std::vector<std::string> participants;
    CoordinationTopology coordination_topology;
    MeasurementBasis measurement_basis;
    double classical_relay_latency_ms = 5.0;
};

constexpr auto description(const DistributedComputingParameters*) {
    using namespace describe;
    using P = DistributedComputingParameters;
    return record<P>(
        field<&P::participants>("participants", "Nodes of the parties, in order"),
        field<&P::coordination_topology>("coordination_topology", "Which pairs of parties share entanglement"),
        field<&P::measurement_basis>("measurement_basis", "Basis and correlation of the measurement", kOptional),
        field<&P::classical_relay_latency_ms>(
            "classical_relay_latency_ms", "Classical delay per coordination link (5.0 when omitted)", "ms", kOptional));
}

// What the protocol runs with: the parameters with the topology in the protocol's form.
struct DistributedComputation {
    std::vector<std::string> participants;
    Coordination coordination;
    double correlation_strength = 0.85;
    BasisType basis_type = BasisType::GHZ;  // travels along; no step depends on it
    double classical_relay_latency_ms = 5.0;
};

struct PartyOutcome {
    std::string node_id;
    bool successful_measurement = false;
    double local_fidelity = 0.0;
};

constexpr auto description(const PartyOutcome*) {
    using namespace describe;
    using O = PartyOutcome;
    return record<O>(
        field<&O::node_id>("node_id", "The party's node"),
        field<&O::successful_measurement>("successful_measurement", "Whether every link touching the party succeeded"),
        field<&O::local_fidelity>("local_fidelity", "The party's fidelity"));
}

struct DistributedComputingResult {
    bool success = false;
    double computation_fidelity = 0.0;
    std::vector<PartyOutcome> party_results;       // in participant order
    std::vector<std::string> resource_links_used;  // "first->second", in link order
    double total_latency_ms = 0.0;
    double coordination_overhead_ms = 0.0;
};

constexpr auto description(const DistributedComputingResult*) {
    using namespace describe;
    using R = DistributedComputingResult;
    return record<R>(
        field<&R::success>("success", "Whether there was a party and every party measured successfully"),
        field<&R::computation_fidelity>("computation_fidelity", "Product of the parties' fidelities, capped at 0.999"),
        field<&R::party_results>("party_results", "One outcome per participant, in order"),
        field<&R::resource_links_used>("resource_links_used", "The coordination links, \"first->second\""),
        field<&R::total_latency_ms>("total_latency_ms", "Summed simulated latency of the link requests", "ms"),
        field<&R::coordination_overhead_ms>("coordination_overhead_ms", "Links times the relay latency", "ms"));
}

// A summary of many runs, for callers to fill.
struct DistributedComputingStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_computation_fidelity = 0.0;
    double mean_party_success_rate = 0.0;
};

constexpr auto description(const DistributedComputingStats*) {
    using namespace describe;
    using S = DistributedComputingStats;
    return record<S>(field<&S::total_runs>("total_runs", "Number of runs summarised"),
                     field<&S::success_rate>("success_rate", "Fraction of runs that succeeded"),
                     field<&S::mean_computation_fidelity>("mean_computation_fidelity", "Mean computation fidelity"),
                     field<&S::mean_party_success_rate>("mean_party_success_rate",
                                                        "Mean fraction of parties that measured successfully"));
}

// Never fails; links naming nodes the network lacks are requested like any other. `interruption`
// (may be null) reaches every request.
DistributedComputingResult run_distributed_computation(const Engine& engine, const DistributedComputation& computation,
                                                       Interruption* interruption = nullptr);

}  // namespace vorn
