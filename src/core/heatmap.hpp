// Attempt counts per hop key, in the order the keys were first counted.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn {

// Hop keys ("A->B": the hop's two node ids joined by "->", in path direction) with their summed
// attempt counts, in route order.
using Heatmap = std::vector<std::pair<std::string, std::uint64_t>>;

// "a->b": the key of a hop, and of a link wherever links are named by their ends.
std::string hop_key(std::string_view first, std::string_view second);

// Adds `count` under the key of each hop of `path`, in order; a key already present (from this call
// or before, since node ids may themselves contain "->") accumulates, a new one is appended. A zero
// count adds nothing.
void add_path_counts(Heatmap& heatmap, std::span<const std::string> path, std::uint64_t count);

}  // namespace vorn
