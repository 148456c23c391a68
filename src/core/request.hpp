// What travels between the engine, the timeline and the ensemble: request and result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/strategy_type.hpp"
#include "describe/record.hpp"

namespace vorn {

struct EntanglementRequest {
    std::string from_node;
    std::string to;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    std::optional<StrategyType> strategy;  // absent means HighestFidelity
};

constexpr auto description(const EntanglementRequest*) {
    using namespace describe;
    using R = EntanglementRequest;
    constexpr Reading ends = route_finding("the two ends of the route");
    return record<R>(
        field<&R::from_node>("from_node", "Identifier of the node where the pair starts").read_by(ends),
        field<&R::to>("to", "Identifier of the node where the pair ends").read_by(ends),
        field<&R::fidelity_target>("fidelity_target", "Fidelity the delivered pair must reach, a fraction in [0, 1]")
            .read_by(route_finding("below it, HighestFidelity falls back to the LowestLatency route",
                                   strategy_bits(StrategyType::HighestFidelity)),
                     timeline("admission estimate; a penalty on the attempt probability of links below it; the "
                              "success test")),
        field<&R::max_latency_ms>("max_latency_ms", "Bound on the simulated time the request may take", "ms")
            .read_by(timeline("admission (a travel time above it, or a bound that is not positive, fails); ends "
                              "the cycles")),
        field<&R::strategy>("strategy", "How the route is chosen (HighestFidelity when omitted)", kOptional)
            .read_by(route_finding("chooses the score (HighestFidelity when absent)")));
}

struct SimulationResult {
    bool success = false;
    double latency_ms = 0.0;
    double final_fidelity = 0.0;
    std::vector<std::string> execution_path;
};

constexpr auto description(const SimulationResult*) {
    using namespace describe;
    using R = SimulationResult;
    return record<R>(field<&R::success>("success", "Whether a pair meeting the request was delivered"),
                     field<&R::latency_ms>("latency_ms",
                                           "Simulated clock when the request ended (delivery on success); the "
                                           "timeline's cycles, not the light's travel time",
                                           "ms"),
                     field<&R::final_fidelity>("final_fidelity", "Fidelity of the delivered pair (0.0 on failure)"),
                     field<&R::execution_path>("execution_path",
                                               "Node identifiers of the route used, source first (empty "
                                               "without a route)"));
}

}  // namespace vorn
