// What a route search will go through, told before it runs, so that the companion can warn first.
#include "core/routing.hpp"
#include "native/functions.hpp"
#include "native/network_data.hpp"
#include "python/toolkit/callables.hpp"

namespace vorn::native {
namespace {

// (nodes, links, log2_paths, bounded, exponential, likely_long)
using EstimateTuple = std::tuple<std::uint64_t, std::uint64_t, double, bool, bool, bool>;

EstimateTuple route_search_estimate(std::vector<NodeData> nodes, std::vector<LinkData> links, std::string from_node,
                                    std::string to, std::optional<std::uint64_t> strategy) {
    const QuantumNetwork network =
        QuantumNetwork::from_definitions(nodes_of(std::move(nodes)), links_of(std::move(links)));
    require_node(network, "from_node", from_node);
    require_node(network, "to", to);
    const RouteSearchEstimate estimate =
        estimate_route_search(network, from_node, to, strategy_of(strategy).value_or(StrategyType::HighestFidelity));
    return {estimate.nodes,   estimate.links,       estimate.log2_paths,
            estimate.bounded, estimate.exponential, estimate.likely_long};
}

constexpr const char* kEstimateDoc =
    "What the route search from from_node to to under strategy (None: the engine's default) will go\n"
    "through, worked out without searching, in time about linear in the network.\n"
    "\n"
    "Returns (nodes, links, log2_paths, bounded, exponential, likely_long): the nodes on some simple\n"
    "path between the two ends (the ends included) and the links between them; log2 of a rough upper\n"
    "estimate of the simple paths between the ends; whether the search can use its exact bounds;\n"
    "whether its work may grow exponentially with the nodes (always for HighestSuccess); and whether it\n"
    "will likely take more than about a second. No route gives zeros and False.";

}  // namespace

PyMethodDef route_search_estimate_function() {
    return py::module_function<&route_search_estimate>("route_search_estimate",
                                                       {"nodes", "links", "from_node", "to", "strategy"}, kEstimateDoc);
}

}  // namespace vorn::native
