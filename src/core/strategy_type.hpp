// The strategies of route finding, apart from the request records, so that what only names a strategy
// does not recompile when a request record changes.
#pragma once

#include <cstdint>

#include "describe/record.hpp"

namespace vorn {

enum class StrategyType : std::uint8_t { LowestLatency = 0, HighestFidelity = 1, HighestSuccess = 2 };

constexpr auto description(const StrategyType*) {
    using namespace describe;
    using S = StrategyType;
    return enumeration<S>(
        Member<S>{S::LowestLatency, "LowestLatency", "the route with the smallest total length (propagation delay)"},
        Member<S>{S::HighestFidelity, "HighestFidelity",
                  "the route with the highest product of link fidelities (the default); below the target, the "
                  "LowestLatency route instead"},
        Member<S>{S::HighestSuccess, "HighestSuccess",
                  "the route with the highest summed success score of its links: an exact search with bounds, "
                  "whose work can still grow exponentially with the nodes on paths between the ends (networks "
                  "of 30 nodes take well under a second); Ctrl-C stops it, and the companion warns "
                  "(vorn.parallel.LongSearchWarning) before a search it can tell will be long"});
}

// The strategies whose route scores read a field (describe::Reading::strategies): bit s for the strategy of value s.
template <class... S>
constexpr std::uint8_t strategy_bits(S... strategies) {
    return static_cast<std::uint8_t>((0u | ... | (1u << static_cast<unsigned>(strategies))));
}

}  // namespace vorn
