#include "native/functions.hpp"

#include <cmath>
#include <limits>

#include "core/physics/ensemble.hpp"
#include "native/network_data.hpp"
#include "native/physics_records.hpp"
#include "python/interruption.hpp"

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
    const QuantumNetwork network = QuantumNetwork::from_definitions(nodes_of(std::move(nodes)), definitions);
    require_node(network, "from_node", from_node);
    require_node(network, "to", to);
    built.chain =
        physics::chain_between(network, definitions, from_node, to, strategy_of(strategy), built.model, interruption);
    return built;
}

py::Ref owned(PyObject* object) {
    if (!object) throw py::ErrorAlreadySet{};
    return py::Ref::steal(object);
}

py::Ref doubles_bytes(const std::vector<double>& values) {
    return owned(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                           static_cast<Py_ssize_t>(values.size() * sizeof(double))));
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
    py::SignalCheck signals;
    Setup built = setup(std::move(nodes), std::move(links), from_node, to, model, strategy, &signals);
    const auto outcomes = physics::run_trials(built.chain, built.model, runs, seed, &signals);
    std::vector<double> waiting(outcomes.size()), fidelity(outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        waiting[i] = outcomes[i].waiting_time_ms;
        fidelity[i] = outcomes[i].delivered ? outcomes[i].fidelity : std::numeric_limits<double>::quiet_NaN();
    }
    return {std::move(built.chain.path), doubles_bytes(waiting), doubles_bytes(fidelity)};
}

}  // namespace

PyMethodDef physics_route_function() {
    return py::module_function<&route>("physics_route", {"nodes", "links", "from_node", "to", "model", "strategy"});
}

PyMethodDef physics_simulate_function() {
    return py::module_function<&simulate>("physics_simulate",
                                          {"nodes", "links", "from_node", "to", "runs", "model", "strategy", "seed"});
}

PyMethodDef physics_trials_function() {
    return py::module_function<&trials>("physics_trials",
                                        {"nodes", "links", "from_node", "to", "runs", "model", "strategy", "seed"});
}

}  // namespace vorn::native
