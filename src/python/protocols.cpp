// Python classes of the protocols, their module functions and the engine methods that run them.
#include "python/protocols.hpp"

#include "core/number_text.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::py {

namespace {

constexpr const char* kQkdDoc = "Run BB84-style quantum key distribution between two nodes.";
constexpr const char* kTeleportationDoc = "Execute entanglement-based quantum state teleportation between two nodes.";
constexpr const char* kDistributedDoc = "Run a distributed quantum computing protocol across participating nodes.";

std::string flag_text(bool value) { return value ? "true" : "false"; }

// Key distribution.

std::string qkd_result_text(const QKDResult& result) {
    return "QKDResult(success=" + flag_text(result.success) +
           ", key_bits=" + std::to_string(result.secret_key_length_bits) +
           ", qber=" + fixed_number_text(result.qber, 4) + ")";
}

std::string qkd_stats_text(const QKDStats& stats) {
    return "QKDStats(runs=" + std::to_string(stats.total_runs) +
           ", success=" + fixed_number_text(stats.success_rate * 100.0, 0) +
           ", mean_key_len=" + fixed_number_text(stats.mean_key_length_bits, 1) + ")";
}

// Both entry points hold the engine shared for the whole run. Here the two ratios keep their defaults.
QKDResult qkd(const Engine& engine, std::string from_node, std::string to_node, double fidelity_target,
              double max_latency_ms, std::optional<std::uint64_t> rounds, std::optional<double> error_rate_tolerance) {
    QKDParameters parameters{std::move(from_node), std::move(to_node), fidelity_target, max_latency_ms};
    parameters.rounds = rounds.value_or(parameters.rounds);
    parameters.error_rate_tolerance = error_rate_tolerance.value_or(parameters.error_rate_tolerance);
    SignalCheck signals;
    return run_qkd(engine, parameters, &signals);
}

QKDResult qkd_method(const Engine& engine, const QKDParameters& params) {
    SignalCheck signals;
    return run_qkd(engine, params, &signals);
}

// Teleportation.

std::string teleportation_outcome_text(const TeleportationOutcome& outcome) {
    return "TeleportationOutcome(success=" + flag_text(outcome.success) +
           ", fidelity=" + fixed_number_text(outcome.teleportation_fidelity, 4) +
           ", latency=" + fixed_number_text(outcome.latency_ms, 1) + "ms)";
}

std::string teleportation_stats_text(const TeleportationStats& stats) {
    return "TeleportationStats(runs=" + std::to_string(stats.total_runs) +
           ", fidelity=" + fixed_number_text(stats.mean_teleportation_fidelity, 4) + "\u00b1" +
           fixed_number_text(stats.teleportation_fidelity_stddev, 4) + ")";
}

// Without relay nodes.
TeleportationOutcome teleportation(const Engine& engine, std::string source_node, std::string target_node,
                                   std::optional<double> state_fidelity, std::optional<double> classical_bandwidth_ms) {
    TeleportationParameters parameters;
    parameters.source_node = std::move(source_node);
    parameters.target_node = std::move(target_node);
    parameters.state_fidelity = state_fidelity.value_or(parameters.state_fidelity);
    parameters.classical_bandwidth_ms = classical_bandwidth_ms.value_or(parameters.classical_bandwidth_ms);
    SignalCheck signals;
    return execute_teleportation(engine, parameters, &signals);
}

TeleportationOutcome teleportation_method(const Engine& engine, const TeleportationParameters& params) {
    SignalCheck signals;
    return execute_teleportation(engine, params, &signals);
}

// Distributed computation.

CoordinationTopology make_star(std::string center_node) { return {"star", std::move(center_node), {}}; }
CoordinationTopology make_ring() { return {"ring", {}, {}}; }
CoordinationTopology make_mesh() { return {"mesh", {}, {}}; }
CoordinationTopology make_arbitrary(std::vector<NodePair> edges) { return {"arbitrary", {}, std::move(edges)}; }

std::string party_text(const PartyOutcome& party) {
    return "PartyOutcome(" + party.node_id + ", success=" + flag_text(party.successful_measurement) +
           ", fidelity=" + fixed_number_text(party.local_fidelity, 4) + ")";
}

std::string distributed_result_text(const DistributedComputingResult& result) {
    return "DistributedComputingResult(success=" + flag_text(result.success) +
           ", fidelity=" + fixed_number_text(result.computation_fidelity, 4) +
           ", parties=" + std::to_string(result.party_results.size()) + ")";
}

std::string distributed_stats_text(const DistributedComputingStats& stats) {
    return "DistributedComputingStats(runs=" + std::to_string(stats.total_runs) +
           ", success=" + fixed_number_text(stats.success_rate * 100.0, 0) +
           ", fidelity=" + fixed_number_text(stats.mean_computation_fidelity, 4) + ")";
}

DistributedComputingResult distributed_computation(const Engine& engine, std::vector<std::string> participants,
                                                   const CoordinationTopology& coordination_topology,
                                                   const MeasurementBasis& measurement_basis,
                                                   std::optional<double> classical_relay_latency_ms) {
    DistributedComputation computation{std::move(participants), coordination_of(coordination_topology),
                                       measurement_basis.correlation_strength, measurement_basis.basis_type};
    computation.classical_relay_latency_ms =
        classical_relay_latency_ms.value_or(computation.classical_relay_latency_ms);
    SignalCheck signals;
    return run_distributed_computation(engine, computation, &signals);
}

// Here the topology and the basis come as short names; an explicit edge list cannot be given.
DistributedComputingResult distributed_method(const Engine& engine, std::vector<std::string> participants,
                                              std::string coordination_topology, std::string basis_type,
                                              std::optional<double> correlation_strength,
                                              std::optional<double> classical_relay_latency_ms) {
    DistributedComputation computation;
    if (coordination_topology == "star")
        computation.coordination = StarCoordination{participants.empty() ? std::string() : participants.front()};
    else if (coordination_topology == "ring")
        computation.coordination = RingCoordination{};
    else if (coordination_topology == "mesh")
        computation.coordination = MeshCoordination{};
    else
        throw ValueFailure("coordination_topology must be one of: 'star', 'ring', 'mesh'");
    if (basis_type == "ghz")
        computation.basis_type = BasisType::GHZ;
    else if (basis_type == "cluster")
        computation.basis_type = BasisType::Cluster;
    else if (basis_type == "graph")
        computation.basis_type = BasisType::GraphGraph;
    else
        throw ValueFailure("basis_type must be one of: 'ghz', 'cluster', 'graph'");
    computation.participants = std::move(participants);
    computation.correlation_strength = correlation_strength.value_or(computation.correlation_strength);
    computation.classical_relay_latency_ms =
        classical_relay_latency_ms.value_or(computation.classical_relay_latency_ms);
    SignalCheck signals;
    return run_distributed_computation(engine, computation, &signals);
}

}  // namespace

PyTypeObject* Bound<QKDParameters>::type() noexcept {
    return lazy_type<QKDParameters>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<QKDResult>::type() noexcept {
    return lazy_type<QKDResult>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&qkd_result_text>(); });
}

PyTypeObject* Bound<QKDStats>::type() noexcept {
    return lazy_type<QKDStats>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&qkd_stats_text>(); });
}

PyTypeObject* Bound<TeleportationParameters>::type() noexcept {
    return lazy_type<TeleportationParameters>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<TeleportationOutcome>::type() noexcept {
    return lazy_type<TeleportationOutcome>([](auto& table) {
        table.described_constructor().described_fields().template repr<&teleportation_outcome_text>();
    });
}

PyTypeObject* Bound<TeleportationStats>::type() noexcept {
    return lazy_type<TeleportationStats>([](auto& table) {
        table.described_constructor().described_fields().template repr<&teleportation_stats_text>();
    });
}

PyTypeObject* Bound<BasisType>::type() noexcept {
    return lazy_type<BasisType>([](auto& table) { table.described_members(); });
}

PyTypeObject* Bound<CoordinationTopology>::type() noexcept {
    return lazy_type<CoordinationTopology>([](auto& table) {
        table.described_constructor()
            .described_fields()
            .template static_method<&make_star>("star", {"center_node"},
                                                "Create a star topology with the given center node.")
            .template static_method<&make_ring>("ring", {}, "Create a ring topology.")
            .template static_method<&make_mesh>("mesh", {}, "Create a mesh (all-to-all) topology.")
            .template static_method<&make_arbitrary>("arbitrary", {"edges"},
                                                     "Create an arbitrary topology with explicit edges.");
    });
}

PyTypeObject* Bound<MeasurementBasis>::type() noexcept {
    return lazy_type<MeasurementBasis>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<DistributedComputingParameters>::type() noexcept {
    return lazy_type<DistributedComputingParameters>(
        [](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<PartyOutcome>::type() noexcept {
    return lazy_type<PartyOutcome>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&party_text>(); });
}

PyTypeObject* Bound<DistributedComputingResult>::type() noexcept {
    return lazy_type<DistributedComputingResult>([](auto& table) {
        table.described_constructor().described_fields().template repr<&distributed_result_text>();
    });
}

PyTypeObject* Bound<DistributedComputingStats>::type() noexcept {
    return lazy_type<DistributedComputingStats>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&distributed_stats_text>(); });
}

void describe_engine_protocol_methods(ClassTable<Engine>& table) {
    table.method<&qkd_method>("run_qkd", {"params"}, kQkdDoc)
        .method<&teleportation_method>("execute_teleportation", {"params"}, kTeleportationDoc)
        .method<&distributed_method>(
            "run_distributed_computation",
            {"participants",
             {"coordination_topology", "\"star\" (around the first participant), \"ring\" or \"mesh\""},
             {"basis_type", "\"ghz\", \"cluster\" or \"graph\""},
             "correlation_strength",
             "classical_relay_latency_ms"},
            kDistributedDoc);
}

PyMethodDef qkd_function() {
    return module_function<&qkd>(
        "qkd",
        {"engine", "from_node", "to_node", "fidelity_target", "max_latency_ms", "rounds", "error_rate_tolerance"},
        kQkdDoc);
}

PyMethodDef teleportation_function() {
    return module_function<&teleportation>(
        "teleportation", {"engine", "source_node", "target_node", "state_fidelity", "classical_bandwidth_ms"},
        kTeleportationDoc);
}

PyMethodDef distributed_computation_function() {
    return module_function<&distributed_computation>(
        "distributed_computation",
        {"engine", "participants", "coordination_topology", "measurement_basis", "classical_relay_latency_ms"},
        kDistributedDoc);
}

}  // namespace vorn::py
