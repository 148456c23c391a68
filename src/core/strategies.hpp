// How each strategy chooses its route: one entry per StrategyType member. Route finding, its bounds,
// its estimate and admission read a strategy from its entry alone, so a new strategy is its member
// with a description (request.hpp) and its entry here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "core/failure.hpp"
#include "core/network_records.hpp"
#include "core/request.hpp"

namespace vorn {

// How a path's score grows from its hops' terms, in path order.
enum class Combine : std::uint8_t {
    Sum,      // from 0.0, adding each term
    Product,  // from 1.0, multiplying by each term
};

// Which score wins, and of two candidates with equal scores, the one enumerated first or the later.
enum class Goal : std::uint8_t {
    Least,     // the later only with a strictly smaller score (ties and NaN keep the earlier)
    Greatest,  // the later unless the earlier's score is strictly greater (ties and NaN go to the later)
};

struct Strategy {
    StrategyType type;
    // What one hop adds to a path's score, from the figures of its joining link.
    double (*term)(const InternalLink& link);
    Combine combine;
    Goal goal;
    // Admission: the strategy whose route replaces this one's when its fidelity is below the target.
    std::optional<StrategyType> below_target = std::nullopt;
};

// In the order of the members' values. The exact search's bounds follow from the combination and the
// goal: least sums, greatest sums and greatest products are searched with bounds, least products by
// enumerating every path.
inline constexpr Strategy kStrategies[] = {
    {StrategyType::LowestLatency, [](const InternalLink& link) { return link.distance_km; }, Combine::Sum, Goal::Least},
    {StrategyType::HighestFidelity, [](const InternalLink& link) { return link.base_fidelity; }, Combine::Product,
     Goal::Greatest, StrategyType::LowestLatency},
    {StrategyType::HighestSuccess,
     [](const InternalLink& link) { return link.base_fidelity * link.generation_rate_hz; }, Combine::Sum,
     Goal::Greatest},
};

static_assert(
    [] {
        const auto members = describe::description_of<StrategyType>().members;
        if (members.size() != std::size(kStrategies)) return false;
        for (std::size_t i = 0; i < members.size(); ++i)
            if (members[i].value != kStrategies[i].type || static_cast<std::size_t>(members[i].value) != i)
                return false;
        return true;
    }(),
    "one entry per StrategyType member, in the order of the description, each at the index of its value");

// What a request without a strategy is served by.
inline constexpr StrategyType kDefaultStrategy = StrategyType::HighestFidelity;

inline const Strategy& strategy_entry(StrategyType type) {
    const auto index = static_cast<std::size_t>(type);
    if (index >= std::size(kStrategies)) throw Panic("unknown strategy " + std::to_string(index));
    return kStrategies[index];
}

inline StrategyType chosen_strategy(const EntanglementRequest& request) {
    return request.strategy.value_or(kDefaultStrategy);
}

}  // namespace vorn
