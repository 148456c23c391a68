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

namespace vorn {

enum class BasisType : std::uint8_t { GHZ = 0, Cluster = 1, GraphGraph = 2 };

using NodePair = std::pair<std::string, std::string>;

// A coordination topology as a caller describes it: a kind by name, with what that kind needs.
struct CoordinationTopology {
    std::string kind;
    std::optional<std::string> center_node;
    std::optional<std::vector<NodePair>> edges;
};

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

// The links a coordination asks for among `participants`, in request order; each link's request
// goes from its first node to its second.
std::vector<NodePair> coordination_links(const Coordination& coordination,
                                         const std::vector<std::string>& participants);

struct MeasurementBasis {
    BasisType basis_type = BasisType::GHZ;
    double correlation_strength = 0.85;
};

struct DistributedComputingParameters {
    std::vector<std::string> participants;
    CoordinationTopology coordination_topology;
    MeasurementBasis measurement_basis;
    double classical_relay_latency_ms = 5.0;
};

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

struct DistributedComputingResult {
    bool success = false;
    double computation_fidelity = 0.0;
    std::vector<PartyOutcome> party_results;       // in participant order
    std::vector<std::string> resource_links_used;  // "first->second", in link order
    double total_latency_ms = 0.0;
    double coordination_overhead_ms = 0.0;
};

// A summary of many runs, for callers to fill.
struct DistributedComputingStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_computation_fidelity = 0.0;
    double mean_party_success_rate = 0.0;
};

// Never fails; links naming nodes the network lacks are requested like any other. `interruption`
// (may be null) reaches every request.
DistributedComputingResult run_distributed_computation(const Engine& engine, const DistributedComputation& computation,
                                                       Interruption* interruption = nullptr);

}  // namespace vorn
