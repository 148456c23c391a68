// What travels between the engine, the timeline and the ensemble: strategy, request, result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

enum class StrategyType : std::uint8_t { LowestLatency = 0, HighestFidelity = 1, HighestSuccess = 2 };

struct EntanglementRequest {
    std::string from_node;
    std::string to;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    std::optional<StrategyType> strategy;  // absent means HighestFidelity
};

struct SimulationResult {
    bool success = false;
    double latency_ms = 0.0;
    double final_fidelity = 0.0;
    std::vector<std::string> execution_path;
};

}  // namespace vorn
