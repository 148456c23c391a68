// Ensembles that repeat exactly, for the companion's shards (vorn_core's records in, counts and sums out),
// and the seeds of independent replicates.
#include "core/ensemble.hpp"
#include "core/interruption_poll.hpp"
#include "core/random/seeds.hpp"
#include "native/functions.hpp"
#include "native/network_data.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {
namespace {

// (total_runs, empirical_success_rate, mean_latency_ms, mean_fidelity, aggregate_congestion_drops,
//  heatmap, successes, latency_sum, fidelity_sum)
using EnsembleTuple = std::tuple<std::uint64_t, double, double, double, std::uint64_t, py::Entries<std::uint64_t>,
                                 std::uint64_t, std::vector<double>, std::vector<double>>;

EnsembleTuple simulate(std::vector<NodeData> nodes, std::vector<LinkData> links, std::optional<ConfigData> config,
                       RequestData request, std::uint64_t runs, std::uint64_t seed) {
    const QuantumNetwork network = checked_network(std::move(nodes), std::move(links));
    const SimulationConfig settings = checked_config(std::move(config));
    const EntanglementRequest checked = checked_request(network, std::move(request));
    py::SignalCheck signals;
    KeyedEnsemble ensemble = execute_keyed_ensemble(network, settings, checked, runs, seed, &signals);
    MonteCarloStats& stats = ensemble.stats;
    return {stats.total_runs,    stats.empirical_success_rate,     stats.mean_latency_ms,
            stats.mean_fidelity, stats.aggregate_congestion_drops, {std::move(stats.link_utilization_heatmap)},
            ensemble.successes,  ensemble.latency_ms.partials(),   ensemble.fidelity.partials()};
}

constexpr const char* kSimulateDoc =
    "The ensemble of VornEngine(config).simulate(...) on this network, with each trial's loss draws\n"
    "keyed by its own seed, so that every field follows from the seed. Trial i of seed s is trial 0\n"
    "of seed s + i (modulo 2**64): ensembles over consecutive seed ranges merge into the one over the\n"
    "whole range exactly.\n"
    "\n"
    "nodes, links, config and request: vorn_core's NodeDefinition, LinkDefinition, SimulationConfig\n"
    "(None: an engine's default) and EntanglementRequest records, or objects with their attributes. A\n"
    "figure out of its range (vorn_core's own rules aside), a node id defined twice or a request end\n"
    "that is no node is a ValueError.\n"
    "\n"
    "Returns (total_runs, empirical_success_rate, mean_latency_ms, mean_fidelity,\n"
    "aggregate_congestion_drops, heatmap, successes, latency_sum, fidelity_sum). The two sums are\n"
    "exact: lists of floats whose exact total is the sum (math.fsum rounds it). Shards merge by\n"
    "adding counts and heatmaps and concatenating the sums; then mean_latency_ms is\n"
    "math.fsum(latency_sum) / total_runs and mean_fidelity math.fsum(fidelity_sum) / successes\n"
    "(0.0 without successes), as here.";

py::Ref replicate_seeds(std::uint64_t seed, std::uint64_t count, std::uint64_t runs) {
    if (runs == 0) throw py::ValueFailure("argument 'runs': replicates need at least one run each, got 0");
    if (static_cast<unsigned __int128>(count) * runs > static_cast<unsigned __int128>(1) << 64)
        throw py::ValueFailure("argument 'count': " + std::to_string(count) + " replicates of " + std::to_string(runs) +
                               " runs need more than the 2**64 seeds there are");
    // A list that cannot be held fails here at once, before any seed is made.
    PyObject* list =
        count <= static_cast<std::uint64_t>(PY_SSIZE_T_MAX) ? PyList_New(static_cast<Py_ssize_t>(count)) : nullptr;
    if (!list) {
        if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_MemoryError)) throw py::ErrorAlreadySet{};
        PyErr_Clear();
        throw py::Failure(PyExc_MemoryError,
                          "argument 'count': a list of " + std::to_string(count) + " seeds does not fit in memory");
    }
    py::Ref seeds = py::Ref::steal(list);
    py::SignalCheck signals;
    InterruptionPoll poll(&signals, 1u << 16);
    const std::uint64_t base = replicate_base(seed);
    for (std::uint64_t k = 0; k < count; ++k) {
        PyObject* value = PyLong_FromUnsignedLongLong(base + k * runs);
        if (!value) throw py::ErrorAlreadySet{};
        PyList_SetItem(list, static_cast<Py_ssize_t>(k), value);  // steals the reference
        poll.advance();
    }
    return seeds;
}

constexpr const char* kReplicateSeedsDoc =
    "The first seeds of `count` independent replicates of `runs` trials derived from `seed`: replicate k\n"
    "starts at base + k * runs (modulo 2**64), base being the 8-byte BLAKE2b digest (person b'vorn-rep') of\n"
    "the seed's 8 little-endian bytes, read little-endian. Needs runs >= 1 and count * runs <= 2**64.";

}  // namespace

PyMethodDef simulate_function() {
    return py::module_function<&simulate, py::Lock::released>(
        "simulate", {"nodes", "links", "config", "request", "runs", "seed"}, kSimulateDoc);
}

PyMethodDef replicate_seeds_function() {
    return py::module_function<&replicate_seeds>("replicate_seeds", {"seed", "count", "runs"}, kReplicateSeedsDoc);
}

}  // namespace vorn::native
