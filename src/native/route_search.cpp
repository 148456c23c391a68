// What a route search will go through, told before it runs, so that the companion can warn first.
#include "core/routing.hpp"
#include "native/functions.hpp"
#include "native/network_data.hpp"
#include "python/toolkit/callables.hpp"

namespace vorn::native {
namespace {

// (nodes, links, log2_paths, bounded, exponential, likely_long)
using EstimateTuple = std::tuple<std::uint64_t, std::uint64_t, double, bool, bool, bool>;

EstimateTuple route_search_estimate(std::vector<NodeData> nodes, std::vector<LinkData> links,
                                    std::optional<ConfigData> config, RequestData request) {
    const QuantumNetwork network = checked_network(std::move(nodes), std::move(links));
    checked_config(std::move(config));
    const EntanglementRequest checked = checked_request(network, std::move(request));
    const RouteSearchEstimate estimate = estimate_route_search(
        network, checked.from_node, checked.to, checked.strategy.value_or(StrategyType::HighestFidelity));
    return {estimate.nodes,   estimate.links,       estimate.log2_paths,
            estimate.bounded, estimate.exponential, estimate.likely_long};
}

constexpr const char* kEstimateDoc =
    "What the route search of the request (an EntanglementRequest) will go through, worked out without\n"
    "searching, in time about linear in the network. Checks the network, the configuration and the\n"
    "request as simulate does, so that a call refuses what the ensemble would.\n"
    "\n"
    "Returns (nodes, links, log2_paths, bounded, exponential, likely_long): the nodes on some simple\n"
    "path between the two ends (the ends included) and the links between them; log2 of a rough upper\n"
    "estimate of the simple paths between the ends; whether the search can use its exact bounds;\n"
    "whether its work may grow exponentially with the nodes (always for HighestSuccess); and whether it\n"
    "will likely take more than about a second. No route gives zeros and False.";

}  // namespace

PyMethodDef route_search_estimate_function() {
    return py::module_function<&route_search_estimate, py::Lock::released>(
        "route_search_estimate", {"nodes", "links", "config", "request"}, kEstimateDoc);
}

}  // namespace vorn::native
