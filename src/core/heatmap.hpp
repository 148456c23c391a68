// Attempt counts per hop key, in the order the keys were first counted.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn {

// Hop keys ("A->B") with their summed attempt counts, in route order.
using Heatmap = std::vector<std::pair<std::string, std::uint64_t>>;

// "a->b": the key under which a hop's attempts are counted.
std::string hop_key(std::string_view first, std::string_view second);
// The keys of a path's hops, in path order.
std::vector<std::string> hop_keys(std::span<const std::string> path);

// Adds `count` under each key, in order; a key already present (from this call or before, since
// node ids may themselves contain "->") accumulates, a new one is appended. A zero count adds nothing.
void add_hop_counts(Heatmap& heatmap, std::span<const std::string> keys, std::uint64_t count);

}  // namespace vorn
