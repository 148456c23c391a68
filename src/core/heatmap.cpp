#include "core/heatmap.hpp"

#include <unordered_map>

namespace vorn {

std::string hop_key(std::string_view first, std::string_view second) {
    std::string key;
    key.reserve(first.size() + 2 + second.size());
    key.append(first).append("->").append(second);
    return key;
}

std::vector<std::string> hop_keys(std::span<const std::string> path) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) keys.push_back(hop_key(path[i], path[i + 1]));
    return keys;
}

void add_hop_counts(Heatmap& heatmap, std::span<const std::string> keys, std::uint64_t count) {
    if (count == 0) return;
    heatmap.reserve(heatmap.size() + keys.size());  // the index below views the stored strings
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(heatmap.size() + keys.size());
    for (std::size_t i = 0; i < heatmap.size(); ++i) index.emplace(heatmap[i].first, i);
    for (const auto& key : keys) {
        auto [found, inserted] = index.emplace(key, heatmap.size());
        if (inserted) heatmap.emplace_back(key, 0);
        heatmap[found->second].second += count;
    }
}

}  // namespace vorn
