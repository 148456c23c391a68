#include "core/heatmap.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace vorn {
namespace {

// Up to this many keys a scan finds a key sooner than a hash index is built.
constexpr std::size_t kScannedKeys = 32;

}  // namespace

std::string hop_key(std::string_view first, std::string_view second) {
    std::string key;
    key.reserve(first.size() + 2 + second.size());
    key.append(first).append("->").append(second);
    return key;
}

void add_path_counts(Heatmap& heatmap, std::span<const std::string> path, std::uint64_t count) {
    if (count == 0 || path.size() < 2) return;
    const std::size_t hops = path.size() - 1;
    heatmap.reserve(heatmap.size() + hops);  // the index views the stored strings
    const bool indexed = heatmap.size() + hops > kScannedKeys;
    std::unordered_map<std::string_view, std::size_t> index;
    if (indexed) {
        index.reserve(heatmap.size() + hops);
        for (std::size_t i = 0; i < heatmap.size(); ++i) index.emplace(heatmap[i].first, i);
    }
    for (std::size_t i = 0; i < hops; ++i) {
        std::string key = hop_key(path[i], path[i + 1]);
        std::size_t at;
        if (indexed) {
            auto found = index.find(key);
            at = found == index.end() ? heatmap.size() : found->second;
        } else {
            at = std::find_if(heatmap.begin(), heatmap.end(), [&](const auto& entry) { return entry.first == key; }) -
                 heatmap.begin();
        }
        if (at < heatmap.size()) {
            heatmap[at].second += count;
            continue;
        }
        heatmap.emplace_back(std::move(key), count);
        if (indexed) index.emplace(heatmap.back().first, at);
    }
}

}  // namespace vorn
