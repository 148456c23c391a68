// Items of a list by key, for the diffs of both file formats.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vorn::files {

// The items of a list by key, in the order in which each key first appears; a later item with the
// same key replaces the earlier one. Holds pointers into the list, which must outlive the index.
template <class Item>
class KeyedIndex {
public:
    template <class KeyOf>
    KeyedIndex(const std::vector<Item>& items, KeyOf key_of) {
        position_.reserve(items.size());
        for (const Item& item : items) {
            std::string key = key_of(item);
            const auto [at, inserted] = position_.try_emplace(key, entries_.size());
            if (inserted) entries_.push_back({std::move(key), &item});
            else entries_[at->second].second = &item;
        }
    }

    const Item* find(const std::string& key) const {
        const auto at = position_.find(key);
        return at == position_.end() ? nullptr : entries_[at->second].second;
    }
    // Each key once, with its last item, in the order of first appearance.
    const std::vector<std::pair<std::string, const Item*>>& entries() const { return entries_; }

private:
    std::vector<std::pair<std::string, const Item*>> entries_;
    std::unordered_map<std::string, std::size_t> position_;
};

struct KeyedChanges {
    std::vector<std::string> added;     // keys only in the second list
    std::vector<std::string> removed;   // keys only in the first list
    std::vector<std::string> modified;  // keys in both whose items `differ`
};

// Compares two lists by key: removed and modified keys in the first list's order of first
// appearance, then added keys in the second's.
template <class Item, class KeyOf, class Differ>
KeyedChanges compare_keyed(const std::vector<Item>& first, const std::vector<Item>& second, KeyOf key_of, Differ differ) {
    const KeyedIndex<Item> old_index(first, key_of);
    const KeyedIndex<Item> new_index(second, key_of);
    KeyedChanges changes;
    for (const auto& [key, item] : old_index.entries()) {
        const Item* other = new_index.find(key);
        if (!other) changes.removed.push_back(key);
        else if (differ(*item, *other)) changes.modified.push_back(key);
    }
    for (const auto& [key, item] : new_index.entries())
        if (!old_index.find(key)) changes.added.push_back(key);
    return changes;
}

}  // namespace vorn::files
