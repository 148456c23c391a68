#include "native/functions.hpp"

#include <cmath>
#include <limits>

#include "core/figure_rules.hpp"
#include "core/physics/ensemble.hpp"
#include "core/physics/report.hpp"
#include "native/network_data.hpp"
#include "native/physics_records.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {
namespace {

struct Setup {
    physics::PhysicalModel model;
    physics::Chain chain;
};

Setup setup(std::vector<NodeData> nodes, std::vector<LinkData> links, const std::string& from_node,
            const std::string& to, const physics::PhysicalModel& model, std::optional<std::uint64_t> strategy,
            Interruption* interruption) {
    Setup built{model, {}};
    const std::vector<LinkDefinition> definitions = links_of(std::move(links));
    std::vector<NodeDefinition> node_records = nodes_of(std::move(nodes));
    check_unique_ids(node_records);
    const QuantumNetwork network = QuantumNetwork::from_definitions(std::move(node_records), definitions);
    require_node(network, "from_node", from_node);
    require_node(network, "to", to);
    built.chain =
        physics::chain_between(network, definitions, from_node, to, strategy_of(strategy), built.model, interruption);
    return built;
}

// Room for `count` doubles, to be written in place: bytes objects are immutable only once shared.
std::pair<py::Ref, double*> doubles_bytes(std::uint64_t count, const char* name) {
    const auto bytes = static_cast<Py_ssize_t>(count * sizeof(double));
    PyObject* object = PyBytes_FromStringAndSize(nullptr, bytes);
    if (!object) {
        if (!PyErr_ExceptionMatches(PyExc_MemoryError)) throw py::ErrorAlreadySet{};
        PyErr_Clear();
        throw py::Failure(PyExc_MemoryError, std::string("argument '") + name + "': the outcomes of " +
                                                 std::to_string(count) + " trials (" + std::to_string(2 * count) +
                                                 " doubles) do not fit in memory");
    }
    py::Ref ref = py::Ref::steal(object);
    return {std::move(ref), reinterpret_cast<double*>(PyBytes_AsString(object))};
}

physics::RouteReport route(std::vector<NodeData> nodes, std::vector<LinkData> links, std::string from_node,
                           std::string to, physics::PhysicalModel model, std::optional<std::uint64_t> strategy) {
    py::SignalCheck signals;
    return physics::report_of(
        setup(std::move(nodes), std::move(links), from_node, to, model, strategy, &signals).chain);
}

physics::EnsembleReport simulate(std::vector<NodeData> nodes, std::vector<LinkData> links, std::string from_node,
                                 std::string to, std::uint64_t runs, physics::PhysicalModel model,
                                 std::optional<std::uint64_t> strategy, std::uint64_t seed) {
    py::SignalCheck signals;
    Setup built = setup(std::move(nodes), std::move(links), from_node, to, model, strategy, &signals);
    const auto totals = physics::run_ensemble(built.chain, built.model, runs, seed, &signals);
    return physics::report_of(built.chain, built.model, seed, *totals);
}

// Per trial: the waiting time and the fidelity (NaN when nothing was delivered), as native doubles.
std::tuple<std::vector<std::string>, py::Ref, py::Ref> trials(std::vector<NodeData> nodes, std::vector<LinkData> links,
                                                              std::string from_node, std::string to, std::uint64_t runs,
                                                              physics::PhysicalModel model,
                                                              std::optional<std::uint64_t> strategy,
                                                              std::uint64_t seed) {
    if (runs > static_cast<std::uint64_t>(PY_SSIZE_T_MAX) / sizeof(double))
        throw py::ValueFailure("argument 'runs': the outcomes of " + std::to_string(runs) +
                               " trials are more than memory can address");
    py::SignalCheck signals;
    Setup built = py::without_lock(setup, std::move(nodes), std::move(links), from_node, to, model, strategy, &signals);
    auto [waiting_bytes, waiting] = doubles_bytes(runs, "runs");
    auto [fidelity_bytes, fidelity] = doubles_bytes(runs, "runs");
    std::uint64_t trial = 0;
    const auto record = [&](const physics::ChainOutcome& outcome) {
        waiting[trial] = outcome.waiting_time_ms;
        fidelity[trial] = outcome.delivered ? outcome.fidelity : std::numeric_limits<double>::quiet_NaN();
        ++trial;
    };
    py::without_lock([&] { physics::for_each_trial(built.chain, built.model, runs, seed, &signals, record); });
    return {std::move(built.chain.path), std::move(waiting_bytes), std::move(fidelity_bytes)};
}

}  // namespace

PyMethodDef physics_route_function() {
    return py::module_function<&route, py::Lock::released>("physics_route",
                                                           {"nodes", "links", "from_node", "to", "model", "strategy"});
}

PyMethodDef physics_simulate_function() {
    return py::module_function<&simulate, py::Lock::released>(
        "physics_simulate", {"nodes", "links", "from_node", "to", "runs", "model", "strategy", "seed"});
}

PyMethodDef binary_entropy_function() { return py::module_function<&physics::binary_entropy>("binary_entropy", {"p"}); }

PyMethodDef secret_fraction_function() {
    return py::module_function<&physics::secret_fraction>("secret_fraction", {"error_rate_z", "error_rate_x"});
}

PyMethodDef physics_trials_function() {
    return py::module_function<&trials>("physics_trials",
                                        {"nodes", "links", "from_node", "to", "runs", "model", "strategy", "seed"});
}

}  // namespace vorn::native
