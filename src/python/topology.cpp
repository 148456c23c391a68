// Python classes of the reference topologies and their comparison.
#include "python/topology.hpp"

#include "core/topology/catalog.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::py {

namespace {

NetworkTopologyPayload generate(std::string name) { return generate_topology(name); }

TopologyComparisonReport compare(std::vector<TopologyEndpoints> endpoints, double fidelity_target,
                                 double max_latency_ms, std::uint64_t runs, std::optional<StrategyType> strategy) {
    SignalCheck signals;
    return compare_topologies(endpoints, fidelity_target, max_latency_ms, runs, strategy, &signals);
}

constexpr const char* kCompareDoc =
    "Compare multiple network topologies for the same entanglement request\n"
    "\n"
    "This function runs simulations across different topologies and returns\n"
    "a comprehensive comparison report.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `endpoints` - List of (topology_name, from_node, to_node) tuples, one per topology.\n"
    "  Each entry maps a generated topology name to the source and target nodes within that\n"
    "  topology, e.g. (\"telecom_backbone\", \"A\", \"C\") or (\"hybrid_satellite_fiber\", \"Toronto\", \"London\").\n"
    "* `fidelity_target` - Required fidelity threshold for all simulations\n"
    "* `max_latency_ms` - Maximum allowed latency for all simulations\n"
    "* `runs` - Number of Monte Carlo runs per topology\n"
    "* `strategy` - Optional routing strategy (None for default)\n"
    "\n"
    "# Example\n"
    "\n"
    "```python\n"
    "from vorn_core import VornEngine, StrategyType\n"
    "\n"
    "report = compare_topologies(\n"
    "    [\n"
    "        TopologyEndpoints(\"telecom_backbone\", \"A\", \"C\"),\n"
    "        TopologyEndpoints(\"hybrid_satellite_fiber\", \"Toronto\", \"London\"),\n"
    "    ],\n"
    "    fidelity_target=0.75,\n"
    "    max_latency_ms=5000.0,\n"
    "    runs=1000,\n"
    "    strategy=StrategyType.HighestFidelity,\n"
    ")\n"
    "print(\"Recommended: \" + report.recommended_topology)\n"
    "```";

}  // namespace

PyTypeObject* Bound<TopologyEndpoints>::type() noexcept {
    return lazy_type<TopologyEndpoints>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<TopologyComparisonResult>::type() noexcept {
    return lazy_type<TopologyComparisonResult>([](auto& table) { table.described_fields(); });
}

PyTypeObject* Bound<TopologyComparisonReport>::type() noexcept {
    return lazy_type<TopologyComparisonReport>([](auto& table) { table.described_fields(); });
}

PyMethodDef generate_topology_function() { return module_function<&generate>("generate_topology", {"name"}); }

PyMethodDef compare_topologies_function() {
    return module_function<&compare>(
        "compare_topologies", {"endpoints", "fidelity_target", "max_latency_ms", "runs", "strategy"}, kCompareDoc);
}

}  // namespace vorn::py
