// Python classes of the protocols, their module functions and the engine methods that run them.
#include "python/protocols.hpp"

#include "core/number_text.hpp"
#include "python/interruption.hpp"

namespace vorn::py {

namespace {

constexpr const char* kQkdDoc = "Run BB84-style quantum key distribution between two nodes.";
constexpr const char* kTeleportationDoc = "Execute entanglement-based quantum state teleportation between two nodes.";
constexpr const char* kDistributedDoc = "Run a distributed quantum computing protocol across participating nodes.";

std::string flag_text(bool value) { return value ? "true" : "false"; }

// Key distribution.

QKDParameters make_qkd_parameters(std::string from_node, std::string to_node, double fidelity_target,
                                  double max_latency_ms, std::optional<std::uint64_t> rounds,
                                  std::optional<double> error_rate_tolerance,
                                  std::optional<double> sifting_overhead_ratio,
                                  std::optional<double> privacy_amplification_factor) {
    QKDParameters parameters{std::move(from_node), std::move(to_node), fidelity_target, max_latency_ms};
    parameters.rounds = rounds.value_or(parameters.rounds);
    parameters.error_rate_tolerance = error_rate_tolerance.value_or(parameters.error_rate_tolerance);
    parameters.sifting_overhead_ratio = sifting_overhead_ratio.value_or(parameters.sifting_overhead_ratio);
    parameters.privacy_amplification_factor =
        privacy_amplification_factor.value_or(parameters.privacy_amplification_factor);
    return parameters;
}

QKDResult make_qkd_result(bool success, std::uint64_t secret_key_length_bits, double efficiency_rate, double qber,
                          double latency_ms, std::vector<std::string> execution_path, std::uint64_t rounds_completed,
                          std::uint64_t rounds_failed) {
    return {success,    secret_key_length_bits,    efficiency_rate,  qber,
            latency_ms, std::move(execution_path), rounds_completed, rounds_failed};
}

std::string qkd_result_text(const QKDResult& result) {
    return "QKDResult(success=" + flag_text(result.success) +
           ", key_bits=" + std::to_string(result.secret_key_length_bits) +
           ", qber=" + fixed_number_text(result.qber, 4) + ")";
}

QKDStats make_qkd_stats(std::uint64_t total_runs, double success_rate, double mean_key_length_bits,
                        double mean_efficiency, double mean_qber) {
    return {total_runs, success_rate, mean_key_length_bits, mean_efficiency, mean_qber};
}

std::string qkd_stats_text(const QKDStats& stats) {
    return "QKDStats(runs=" + std::to_string(stats.total_runs) +
           ", success=" + fixed_number_text(stats.success_rate * 100.0, 0) +
           ", mean_key_len=" + fixed_number_text(stats.mean_key_length_bits, 1) + ")";
}

// Both entry points hold the engine shared for the whole run.
QKDResult qkd(const Engine& engine, std::string from_node, std::string to_node, double fidelity_target,
              double max_latency_ms, std::optional<std::uint64_t> rounds, std::optional<double> error_rate_tolerance) {
    const QKDParameters parameters = make_qkd_parameters(std::move(from_node), std::move(to_node), fidelity_target,
                                                         max_latency_ms, rounds, error_rate_tolerance, {}, {});
    SignalCheck signals;
    return run_qkd(engine, parameters, &signals);
}

QKDResult qkd_method(const Engine& engine, QKDParameters params) {
    SignalCheck signals;
    return run_qkd(engine, params, &signals);
}

// Teleportation.

TeleportationParameters make_teleportation_parameters(std::string source_node, std::string target_node,
                                                      std::optional<double> state_fidelity,
                                                      std::optional<double> classical_bandwidth_ms) {
    TeleportationParameters parameters;
    parameters.source_node = std::move(source_node);
    parameters.target_node = std::move(target_node);
    parameters.state_fidelity = state_fidelity.value_or(parameters.state_fidelity);
    parameters.classical_bandwidth_ms = classical_bandwidth_ms.value_or(parameters.classical_bandwidth_ms);
    return parameters;
}

TeleportationOutcome make_teleportation_outcome(bool success, double teleportation_fidelity,
                                                double resource_entanglement_fidelity, double latency_ms,
                                                std::vector<std::string> path,
                                                std::uint64_t classical_bits_transferred) {
    return {success,    teleportation_fidelity, resource_entanglement_fidelity,
            latency_ms, std::move(path),        classical_bits_transferred};
}

std::string teleportation_outcome_text(const TeleportationOutcome& outcome) {
    return "TeleportationOutcome(success=" + flag_text(outcome.success) +
           ", fidelity=" + fixed_number_text(outcome.teleportation_fidelity, 4) +
           ", latency=" + fixed_number_text(outcome.latency_ms, 1) + "ms)";
}

TeleportationStats make_teleportation_stats(std::uint64_t total_runs, double success_rate,
                                            double mean_teleportation_fidelity, double teleportation_fidelity_stddev,
                                            double mean_latency_ms) {
    return {total_runs, success_rate, mean_teleportation_fidelity, teleportation_fidelity_stddev, mean_latency_ms};
}

std::string teleportation_stats_text(const TeleportationStats& stats) {
    return "TeleportationStats(runs=" + std::to_string(stats.total_runs) +
           ", fidelity=" + fixed_number_text(stats.mean_teleportation_fidelity, 4) + "\u00b1" +
           fixed_number_text(stats.teleportation_fidelity_stddev, 4) + ")";
}

TeleportationOutcome teleportation(const Engine& engine, std::string source_node, std::string target_node,
                                   std::optional<double> state_fidelity, std::optional<double> classical_bandwidth_ms) {
    const TeleportationParameters parameters = make_teleportation_parameters(
        std::move(source_node), std::move(target_node), state_fidelity, classical_bandwidth_ms);
    SignalCheck signals;
    return execute_teleportation(engine, parameters, &signals);
}

TeleportationOutcome teleportation_method(const Engine& engine, TeleportationParameters params) {
    SignalCheck signals;
    return execute_teleportation(engine, params, &signals);
}

// Distributed computation.

CoordinationTopology make_topology(std::string kind, std::optional<std::string> center_node,
                                   std::optional<std::vector<NodePair>> edges) {
    return {std::move(kind), std::move(center_node), std::move(edges)};
}
CoordinationTopology make_star(std::string center_node) { return {"star", std::move(center_node), {}}; }
CoordinationTopology make_ring() { return {"ring", {}, {}}; }
CoordinationTopology make_mesh() { return {"mesh", {}, {}}; }
CoordinationTopology make_arbitrary(std::vector<NodePair> edges) { return {"arbitrary", {}, std::move(edges)}; }

MeasurementBasis make_basis(std::optional<BasisType> basis_type, std::optional<double> correlation_strength) {
    MeasurementBasis basis;
    basis.basis_type = basis_type.value_or(basis.basis_type);
    basis.correlation_strength = correlation_strength.value_or(basis.correlation_strength);
    return basis;
}

DistributedComputingParameters make_distributed_parameters(std::vector<std::string> participants,
                                                           CoordinationTopology coordination_topology,
                                                           std::optional<MeasurementBasis> measurement_basis,
                                                           std::optional<double> classical_relay_latency_ms) {
    DistributedComputingParameters parameters;
    parameters.participants = std::move(participants);
    parameters.coordination_topology = std::move(coordination_topology);
    parameters.measurement_basis = measurement_basis.value_or(parameters.measurement_basis);
    parameters.classical_relay_latency_ms = classical_relay_latency_ms.value_or(parameters.classical_relay_latency_ms);
    return parameters;
}

PartyOutcome make_party(std::string node_id, bool successful_measurement, double local_fidelity) {
    return {std::move(node_id), successful_measurement, local_fidelity};
}

std::string party_text(const PartyOutcome& party) {
    return "PartyOutcome(" + party.node_id + ", success=" + flag_text(party.successful_measurement) +
           ", fidelity=" + fixed_number_text(party.local_fidelity, 4) + ")";
}

DistributedComputingResult make_distributed_result(bool success, double computation_fidelity,
                                                   std::vector<PartyOutcome> party_results,
                                                   std::vector<std::string> resource_links_used,
                                                   double total_latency_ms, double coordination_overhead_ms) {
    return {success,          computation_fidelity,    std::move(party_results), std::move(resource_links_used),
            total_latency_ms, coordination_overhead_ms};
}

std::string distributed_result_text(const DistributedComputingResult& result) {
    return "DistributedComputingResult(success=" + flag_text(result.success) +
           ", fidelity=" + fixed_number_text(result.computation_fidelity, 4) +
           ", parties=" + std::to_string(result.party_results.size()) + ")";
}

DistributedComputingStats make_distributed_stats(std::uint64_t total_runs, double success_rate,
                                                 double mean_computation_fidelity, double mean_party_success_rate) {
    return {total_runs, success_rate, mean_computation_fidelity, mean_party_success_rate};
}

std::string distributed_stats_text(const DistributedComputingStats& stats) {
    return "DistributedComputingStats(runs=" + std::to_string(stats.total_runs) +
           ", success=" + fixed_number_text(stats.success_rate * 100.0, 0) +
           ", fidelity=" + fixed_number_text(stats.mean_computation_fidelity, 4) + ")";
}

DistributedComputingResult distributed_computation(const Engine& engine, std::vector<std::string> participants,
                                                   CoordinationTopology coordination_topology,
                                                   MeasurementBasis measurement_basis,
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
    return lazy_type<QKDParameters>([](auto& table) {
        table
            .template constructor<&make_qkd_parameters>({"from_node", "to_node", "fidelity_target", "max_latency_ms",
                                                         "rounds", "error_rate_tolerance", "sifting_overhead_ratio",
                                                         "privacy_amplification_factor"})
            .field("from_node", &QKDParameters::from_node)
            .field("to_node", &QKDParameters::to_node)
            .field("fidelity_target", &QKDParameters::fidelity_target)
            .field("max_latency_ms", &QKDParameters::max_latency_ms)
            .field("rounds", &QKDParameters::rounds)
            .field("error_rate_tolerance", &QKDParameters::error_rate_tolerance)
            .field("sifting_overhead_ratio", &QKDParameters::sifting_overhead_ratio)
            .field("privacy_amplification_factor", &QKDParameters::privacy_amplification_factor);
    });
}

PyTypeObject* Bound<QKDResult>::type() noexcept {
    return lazy_type<QKDResult>([](auto& table) {
        table
            .template constructor<&make_qkd_result>({"success", "secret_key_length_bits", "efficiency_rate", "qber",
                                                     "latency_ms", "execution_path", "rounds_completed",
                                                     "rounds_failed"})
            .field("success", &QKDResult::success)
            .field("secret_key_length_bits", &QKDResult::secret_key_length_bits)
            .field("efficiency_rate", &QKDResult::efficiency_rate)
            .field("qber", &QKDResult::qber)
            .field("latency_ms", &QKDResult::latency_ms)
            .field("execution_path", &QKDResult::execution_path)
            .field("rounds_completed", &QKDResult::rounds_completed)
            .field("rounds_failed", &QKDResult::rounds_failed)
            .template repr<&qkd_result_text>();
    });
}

PyTypeObject* Bound<QKDStats>::type() noexcept {
    return lazy_type<QKDStats>([](auto& table) {
        table
            .template constructor<&make_qkd_stats>(
                {"total_runs", "success_rate", "mean_key_length_bits", "mean_efficiency", "mean_qber"})
            .field("total_runs", &QKDStats::total_runs)
            .field("success_rate", &QKDStats::success_rate)
            .field("mean_key_length_bits", &QKDStats::mean_key_length_bits)
            .field("mean_efficiency", &QKDStats::mean_efficiency)
            .field("mean_qber", &QKDStats::mean_qber)
            .template repr<&qkd_stats_text>();
    });
}

PyTypeObject* Bound<TeleportationParameters>::type() noexcept {
    return lazy_type<TeleportationParameters>([](auto& table) {
        table
            .template constructor<&make_teleportation_parameters>(
                {"source_node", "target_node", "state_fidelity", "classical_bandwidth_ms"})
            .field("source_node", &TeleportationParameters::source_node)
            .field("target_node", &TeleportationParameters::target_node)
            .field("relay_nodes", &TeleportationParameters::relay_nodes)
            .field("state_fidelity", &TeleportationParameters::state_fidelity)
            .field("classical_bandwidth_ms", &TeleportationParameters::classical_bandwidth_ms);
    });
}

PyTypeObject* Bound<TeleportationOutcome>::type() noexcept {
    return lazy_type<TeleportationOutcome>([](auto& table) {
        table
            .template constructor<&make_teleportation_outcome>({"success", "teleportation_fidelity",
                                                                "resource_entanglement_fidelity", "latency_ms", "path",
                                                                "classical_bits_transferred"})
            .field("success", &TeleportationOutcome::success)
            .field("teleportation_fidelity", &TeleportationOutcome::teleportation_fidelity)
            .field("resource_entanglement_fidelity", &TeleportationOutcome::resource_entanglement_fidelity)
            .field("latency_ms", &TeleportationOutcome::latency_ms)
            .field("path", &TeleportationOutcome::path)
            .field("classical_bits_transferred", &TeleportationOutcome::classical_bits_transferred)
            .template repr<&teleportation_outcome_text>();
    });
}

PyTypeObject* Bound<TeleportationStats>::type() noexcept {
    return lazy_type<TeleportationStats>([](auto& table) {
        table
            .template constructor<&make_teleportation_stats>({"total_runs", "success_rate",
                                                              "mean_teleportation_fidelity",
                                                              "teleportation_fidelity_stddev", "mean_latency_ms"})
            .field("total_runs", &TeleportationStats::total_runs)
            .field("success_rate", &TeleportationStats::success_rate)
            .field("mean_teleportation_fidelity", &TeleportationStats::mean_teleportation_fidelity)
            .field("teleportation_fidelity_stddev", &TeleportationStats::teleportation_fidelity_stddev)
            .field("mean_latency_ms", &TeleportationStats::mean_latency_ms)
            .template repr<&teleportation_stats_text>();
    });
}

PyTypeObject* Bound<BasisType>::type() noexcept {
    return lazy_type<BasisType>([](auto& table) {
        table.member("GHZ", BasisType::GHZ)
            .member("Cluster", BasisType::Cluster)
            .member("GraphGraph", BasisType::GraphGraph);
    });
}

PyTypeObject* Bound<CoordinationTopology>::type() noexcept {
    return lazy_type<CoordinationTopology>([](auto& table) {
        table.template constructor<&make_topology>({"kind", "center_node", "edges"})
            .field("kind", &CoordinationTopology::kind)
            .field("center_node", &CoordinationTopology::center_node)
            .field("edges", &CoordinationTopology::edges)
            .template static_method<&make_star>("star", {"center_node"},
                                                "Create a star topology with the given center node.")
            .template static_method<&make_ring>("ring", {}, "Create a ring topology.")
            .template static_method<&make_mesh>("mesh", {}, "Create a mesh (all-to-all) topology.")
            .template static_method<&make_arbitrary>("arbitrary", {"edges"},
                                                     "Create an arbitrary topology with explicit edges.");
    });
}

PyTypeObject* Bound<MeasurementBasis>::type() noexcept {
    return lazy_type<MeasurementBasis>([](auto& table) {
        table.template constructor<&make_basis>({"basis_type", "correlation_strength"})
            .field("basis_type", &MeasurementBasis::basis_type)
            .field("correlation_strength", &MeasurementBasis::correlation_strength);
    });
}

PyTypeObject* Bound<DistributedComputingParameters>::type() noexcept {
    return lazy_type<DistributedComputingParameters>([](auto& table) {
        table
            .template constructor<&make_distributed_parameters>(
                {"participants", "coordination_topology", "measurement_basis", "classical_relay_latency_ms"})
            .field("participants", &DistributedComputingParameters::participants)
            .field("coordination_topology", &DistributedComputingParameters::coordination_topology)
            .field("measurement_basis", &DistributedComputingParameters::measurement_basis)
            .field("classical_relay_latency_ms", &DistributedComputingParameters::classical_relay_latency_ms);
    });
}

PyTypeObject* Bound<PartyOutcome>::type() noexcept {
    return lazy_type<PartyOutcome>([](auto& table) {
        table.template constructor<&make_party>({"node_id", "successful_measurement", "local_fidelity"})
            .field("node_id", &PartyOutcome::node_id)
            .field("successful_measurement", &PartyOutcome::successful_measurement)
            .field("local_fidelity", &PartyOutcome::local_fidelity)
            .template repr<&party_text>();
    });
}

PyTypeObject* Bound<DistributedComputingResult>::type() noexcept {
    return lazy_type<DistributedComputingResult>([](auto& table) {
        table
            .template constructor<&make_distributed_result>({"success", "computation_fidelity", "party_results",
                                                             "resource_links_used", "total_latency_ms",
                                                             "coordination_overhead_ms"})
            .field("success", &DistributedComputingResult::success)
            .field("computation_fidelity", &DistributedComputingResult::computation_fidelity)
            .field("party_results", &DistributedComputingResult::party_results)
            .field("resource_links_used", &DistributedComputingResult::resource_links_used)
            .field("total_latency_ms", &DistributedComputingResult::total_latency_ms)
            .field("coordination_overhead_ms", &DistributedComputingResult::coordination_overhead_ms)
            .template repr<&distributed_result_text>();
    });
}

PyTypeObject* Bound<DistributedComputingStats>::type() noexcept {
    return lazy_type<DistributedComputingStats>([](auto& table) {
        table
            .template constructor<&make_distributed_stats>(
                {"total_runs", "success_rate", "mean_computation_fidelity", "mean_party_success_rate"})
            .field("total_runs", &DistributedComputingStats::total_runs)
            .field("success_rate", &DistributedComputingStats::success_rate)
            .field("mean_computation_fidelity", &DistributedComputingStats::mean_computation_fidelity)
            .field("mean_party_success_rate", &DistributedComputingStats::mean_party_success_rate)
            .template repr<&distributed_stats_text>();
    });
}

void describe_engine_protocol_methods(ClassTable<Engine>& table) {
    table.method<&qkd_method>("run_qkd", {"params"}, kQkdDoc)
        .method<&teleportation_method>("execute_teleportation", {"params"}, kTeleportationDoc)
        .method<&distributed_method>("run_distributed_computation",
                                     {"participants", "coordination_topology", "basis_type", "correlation_strength",
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
