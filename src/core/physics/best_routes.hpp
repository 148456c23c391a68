// A demand's routes beyond the engine's: the loop-free routes between two nodes ranked by their expected
// rate of end-to-end pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/failure.hpp"
#include "core/route_graph.hpp"

namespace vorn::physics {

// A route's expected rate, in end-to-end pairs per round of attempts: the chance that its n links, each
// attempting one slot at the same time, all make a pair and its n − 1 swaps all succeed,
// q^(n − 1) ∏ s_k with s_k a link's chance that a slot succeeds. It ranks a demand's routes and weighs
// them when its requests spread; what a route delivers is the model's to say.
double expected_rate(std::span<const double> slot_successes, double swap_success);

// What a hop adds to a route's cost, −ln(s q): the cost of a route is −ln(q × its expected rate), so the
// cheapest routes are those of the highest rate.
double hop_cost(double slot_success, double swap_success);

// The first arc of node `a` to its neighbour `b` (its `joining` is the link whose figures the hop has).
std::uint32_t arc_between(const RouteGraph& graph, std::uint32_t a, std::uint32_t b);

// Up to `count` loop-free routes of `graph` from node `from` to node `to` (by their numbers, both ends
// included), cheapest first, a hop costing `cost(joining link)` (at least 0); routes of equal cost in a
// fixed order. Yen's algorithm over Dijkstra's: k shortest simple paths in polynomial time.
// `interruption` (may be null) ends the search with Interrupted.
std::vector<std::vector<std::uint32_t>> best_routes(const RouteGraph& graph, std::uint32_t from, std::uint32_t to,
                                                    std::size_t count,
                                                    const std::function<double(std::uint32_t link)>& cost,
                                                    Interruption* interruption);

}  // namespace vorn::physics
