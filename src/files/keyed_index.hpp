// Comparing two lists of items by key, for the diffs of both file formats.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/heatmap.hpp"
#include "files/node_link_changes.hpp"

namespace vorn::files {

struct KeyedChanges {
    std::vector<std::string> added;     // keys only in the second list
    std::vector<std::string> removed;   // keys only in the first list
    std::vector<std::string> modified;  // keys in both whose items `differ`
};

namespace keyed_detail {

// The distinct keys of both lists in the order of first appearance, first list first, each with
// the last item of each list that has it. Keys are kept back to back in one string and found
// through an open-addressing table of entry numbers: two lists of 300,000 links compare in a few
// cache misses per link instead of a node, a key copy and a chain walk per link and list.
template <class Item>
class KeyTable {
public:
    struct Entry {
        std::size_t offset;  // of the key in keys_
        std::size_t length;
        const Item* first = nullptr;
        const Item* second = nullptr;
    };

    explicit KeyTable(std::size_t items) {
        if (items >= kNoEntry / 2) throw std::length_error("too many items to compare");
        slots_.assign(std::bit_ceil(items * 2 + 2), Slot{});
        entries_.reserve(items);
    }

    // The entry of `key`, new (without items) if the key has not been seen.
    Entry& at(std::string_view key) {
        const std::uint64_t hash = std::hash<std::string_view>{}(key);
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.entry == kNoEntry) {
                slot = {tag, static_cast<std::uint32_t>(entries_.size())};
                entries_.push_back({keys_.size(), key.size()});
                keys_.append(key);
                return entries_.back();
            }
            if (slot.tag == tag && this->key(entries_[slot.entry]) == key) return entries_[slot.entry];
        }
    }

    std::string_view key(const Entry& entry) const {
        return std::string_view(keys_).substr(entry.offset, entry.length);
    }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    static constexpr std::uint32_t kNoEntry = UINT32_MAX;
    struct Slot {
        std::uint32_t tag = 0;  // the high half of the key's hash, checked before the key itself
        std::uint32_t entry = kNoEntry;
    };
    std::vector<Slot> slots_;  // at most half full
    std::vector<Entry> entries_;
    std::string keys_;
};

}  // namespace keyed_detail

// Compares two lists by key (`key_of` gives anything a std::string_view can be made from). Within a
// list a later item with the same key replaces the earlier one. Removed and modified keys follow
// the first list's order of first appearance, then added keys the second's.
template <class Item, class KeyOf, class Differ>
KeyedChanges compare_keyed(const std::vector<Item>& first, const std::vector<Item>& second, KeyOf key_of,
                           Differ differ) {
    keyed_detail::KeyTable<Item> table(first.size() + second.size());
    for (const Item& item : first) table.at(key_of(item)).first = &item;
    for (const Item& item : second) table.at(key_of(item)).second = &item;
    KeyedChanges changes;
    for (const auto& entry : table.entries()) {
        if (!entry.first)
            changes.added.emplace_back(table.key(entry));
        else if (!entry.second)
            changes.removed.emplace_back(table.key(entry));
        else if (differ(*entry.first, *entry.second))
            changes.modified.emplace_back(table.key(entry));
    }
    return changes;
}

// Compares two networks' nodes by id and links by "from->to".
template <class Node, class Link, class NodesDiffer, class LinksDiffer>
NodeLinkChanges compare_nodes_and_links(const std::vector<Node>& first_nodes, const std::vector<Node>& second_nodes,
                                        const std::vector<Link>& first_links, const std::vector<Link>& second_links,
                                        NodesDiffer nodes_differ, LinksDiffer links_differ) {
    KeyedChanges nodes = compare_keyed(
        first_nodes, second_nodes, [](const Node& node) -> const std::string& { return node.id; }, nodes_differ);
    KeyedChanges links = compare_keyed(
        first_links, second_links, [](const Link& link) { return hop_key(figures_of(link).from, figures_of(link).to); },
        links_differ);
    return {std::move(nodes.added), std::move(nodes.removed), std::move(nodes.modified),
            std::move(links.added), std::move(links.removed), std::move(links.modified)};
}

}  // namespace vorn::files
