#include "native/functions.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/figure_rules.hpp"
#include "core/physics/ensemble.hpp"
#include "native/network_data.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {
namespace {

// (attenuation_db_km, efficiency, satellite_loss_db, swap_success_probability, cutoff_ms or None,
//  signal_speed_km_ms, max_waiting_time_ms or None)
using ModelTuple = std::tuple<double, double, double, double, std::optional<double>, double, std::optional<double>>;

physics::PhysicalModel model_of(const ModelTuple& tuple) {
    physics::PhysicalModel model;
    std::tie(model.attenuation_db_km, model.efficiency, model.satellite_loss_db, model.swap_success_probability,
             model.cutoff_ms, model.signal_speed_km_ms, model.max_waiting_time_ms) = tuple;
    physics::check_model(model);
    return model;
}

struct Setup {
    physics::PhysicalModel model;
    physics::Chain chain;
};

Setup setup(std::vector<NodeData> nodes, std::vector<LinkData> links, const std::string& from_node,
            const std::string& to, const ModelTuple& model_tuple, std::optional<std::uint64_t> strategy,
            Interruption* interruption) {
    Setup built{model_of(model_tuple), {}};
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

py::Ref owned(PyObject* object) {
    if (!object) throw py::ErrorAlreadySet{};
    return py::Ref::steal(object);
}

// The exact sum as a Python int of units of 2^-1074, or the float it is when an infinite term was added.
py::Ref exact_value(const ExactSum& sum) {
    if (!sum.finite()) return owned(PyFloat_FromDouble(sum.total()));
    const std::vector<std::uint64_t> limbs = sum.units();
    std::string hex = sum.negative() ? "-0" : "0";
    static constexpr char kDigits[] = "0123456789abcdef";
    for (auto limb = limbs.rbegin(); limb != limbs.rend(); ++limb)
        for (int shift = 60; shift >= 0; shift -= 4) hex += kDigits[(*limb >> shift) & 0xF];
    return owned(PyLong_FromString(hex.c_str(), nullptr, 16));
}

py::Ref histogram_dict(const physics::LogHistogram& histogram) {
    py::Ref dict = owned(PyDict_New());
    for (const auto& [bin, count] : histogram.counts()) {
        py::Ref key = owned(PyLong_FromUnsignedLong(bin));
        py::Ref value = owned(PyLong_FromUnsignedLongLong(count));
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) != 0) throw py::ErrorAlreadySet{};
    }
    return dict;
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

void check_model_tuple(ModelTuple model) { model_of(model); }

using HopTuple = std::tuple<double, double, double, double>;

std::tuple<std::vector<std::string>, std::vector<HopTuple>, std::vector<double>> route(
    std::vector<NodeData> nodes, std::vector<LinkData> links, std::string from_node, std::string to, ModelTuple model,
    std::optional<std::uint64_t> strategy) {
    py::SignalCheck signals;
    Setup built = setup(std::move(nodes), std::move(links), from_node, to, model, strategy, &signals);
    std::vector<HopTuple> hops;
    for (const physics::Hop& hop : built.chain.hops)
        hops.emplace_back(hop.transmissivity, hop.success_probability, hop.attempt_ms, hop.werner);
    return {std::move(built.chain.path), std::move(hops), std::move(built.chain.decay_per_ms)};
}

std::tuple<std::vector<std::string>, std::uint64_t, std::uint64_t, py::Ref, py::Ref, py::Ref, py::Ref, py::Ref>
simulate(std::vector<NodeData> nodes, std::vector<LinkData> links, std::string from_node, std::string to,
         std::uint64_t runs, ModelTuple model, std::optional<std::uint64_t> strategy, std::uint64_t seed) {
    py::SignalCheck signals;
    Setup built = py::without_lock(setup, std::move(nodes), std::move(links), from_node, to, model, strategy, &signals);
    const auto totals = py::without_lock(physics::run_ensemble, built.chain, built.model, runs, seed, &signals);
    return {std::move(built.chain.path),
            totals->runs,
            totals->delivered,
            exact_value(totals->waiting_time_ms),
            exact_value(totals->waiting_time_ms_squared),
            exact_value(totals->fidelity),
            exact_value(totals->fidelity_squared),
            histogram_dict(totals->waiting_time_ms_histogram)};
}

// Per trial: the waiting time and the fidelity (NaN when nothing was delivered), as native doubles.
std::tuple<std::vector<std::string>, py::Ref, py::Ref> trials(std::vector<NodeData> nodes, std::vector<LinkData> links,
                                                              std::string from_node, std::string to, std::uint64_t runs,
                                                              ModelTuple model, std::optional<std::uint64_t> strategy,
                                                              std::uint64_t seed) {
    if (runs > static_cast<std::uint64_t>(PY_SSIZE_T_MAX) / sizeof(double))
        throw py::ValueFailure("argument 'runs': the outcomes of " + std::to_string(runs) +
                               " trials are more than memory can address");
    py::SignalCheck signals;
    Setup built = py::without_lock(setup, std::move(nodes), std::move(links), from_node, to, model, strategy, &signals);
    auto [waiting_bytes, waiting] = doubles_bytes(runs, "runs");
    auto [fidelity_bytes, fidelity] = doubles_bytes(runs, "runs");
    std::uint64_t trial = 0;
    const auto record = [&](const physics::TrialOutcome& outcome) {
        waiting[trial] = outcome.waiting_time_ms;
        fidelity[trial] = outcome.delivered ? outcome.fidelity : std::numeric_limits<double>::quiet_NaN();
        ++trial;
    };
    py::without_lock([&] { physics::for_each_trial(built.chain, built.model, runs, seed, &signals, record); });
    return {std::move(built.chain.path), std::move(waiting_bytes), std::move(fidelity_bytes)};
}

}  // namespace

PyMethodDef physics_check_model_function() {
    return py::module_function<&check_model_tuple>("physics_check_model", {"model"});
}

PyMethodDef physics_route_function() {
    return py::module_function<&route, py::Lock::released>("physics_route",
                                                           {"nodes", "links", "from_node", "to", "model", "strategy"});
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
