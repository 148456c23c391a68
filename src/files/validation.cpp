#include "files/validation.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>
#include <random>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/interruption_poll.hpp"
#include "core/number_text.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {
namespace {

std::string path_suffix(const std::optional<std::string>& path) { return path ? " [" + *path + "]" : std::string(); }

std::string link_name(const VornLink& link) { return link.id ? *link.id : std::string("unknown"); }

ValidationError make_error(ValidationErrorKind kind, std::string_view list = {}, std::size_t index = 0,
                           std::string_view key = {}) {
    ValidationError error;
    error.kind = kind;
    error.list = list;
    error.index = index;
    error.key = key;
    return error;
}

// Union-find with union by size and path halving, in one array: a root holds minus the size of its
// set, any other vertex its parent, so that a step costs one memory access.
class DisjointSets {
public:
    explicit DisjointSets(std::size_t count) : parent_(count, -1), roots_(count) {}

    std::size_t find(std::size_t x) {
        while (parent_[x] >= 0) {
            const auto up = static_cast<std::size_t>(parent_[x]);
            if (parent_[up] >= 0) parent_[x] = parent_[up];
            x = up;
        }
        return x;
    }

    void unite(std::size_t a, std::size_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return;
        if (parent_[a] > parent_[b]) std::swap(a, b);  // a holds the larger set
        parent_[a] += parent_[b];
        parent_[b] = static_cast<std::int64_t>(a);
        --roots_;
    }

    void prefetch(std::size_t x) const { __builtin_prefetch(&parent_[x]); }
    std::size_t roots() const { return roots_; }

private:
    std::vector<std::int64_t> parent_;
    std::size_t roots_;
};

// A node id's hash: eight bytes a step, keyed once per process so that what collides differs from run
// to run.
std::uint64_t hash_id(std::string_view id) {
    static const std::uint64_t key = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    // Each word is folded in with one multiplication; the end mixes all bits into the slot and the tag.
    std::uint64_t h = key ^ (id.size() * 0x9E3779B97F4A7C15ull);
    const char* p = id.data();
    std::size_t left = id.size();
    for (; left >= 8; p += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        h = std::rotl((h ^ word) * 0x9E3779B97F4A7C15ull, 31);
    }
    if (left > 0) {
        std::uint64_t word = 0;
        if (id.size() >= 8) {
            std::memcpy(&word, p + left - 8, 8);  // the last eight bytes, some of them hashed already
        } else {
            for (std::size_t i = 0; i < left; ++i) word |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
        }
        h = std::rotl((h ^ word) * 0x9E3779B97F4A7C15ull, 31);
    }
    h ^= h >> 33;
    h *= 0xD6E8FEB86659FD93ull;
    return h ^ (h >> 29);
}

// Node ids to the vertex of their last entry: open addressing over a table of entry numbers at most
// half full, each slot with 32 bits of the id's hash, so that a lookup compares about one id. The
// lookups of a large file jump about memory; the caller hashes ahead and asks for the memory of a
// later lookup early (prefetch, then prefetch_entry), so that it is there when that lookup comes.
class NodeIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit NodeIndex(const std::vector<VornNode>& nodes) : nodes_(nodes) {
        if (nodes.size() >= kEmpty) throw std::bad_alloc();
        slots_.resize(std::bit_ceil(nodes.size() * 2 + 2));
        mask_ = slots_.size() - 1;
    }

    // Makes node entry `entry`, whose id has `hash`, the vertex of its id; false when the id had one.
    bool assign(std::size_t entry, std::uint64_t hash) {
        Slot& slot = slots_[probe(nodes_[entry].id, hash)];
        const bool fresh = slot.entry == kEmpty;
        slot = {static_cast<std::uint32_t>(hash >> 32), static_cast<std::uint32_t>(entry)};
        return fresh;
    }

    std::size_t find(std::string_view id, std::uint64_t hash) const {
        const Slot& slot = slots_[probe(id, hash)];
        return slot.entry == kEmpty ? npos : slot.entry;
    }

    void prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }
    void prefetch_entry(std::uint64_t hash) const {
        const Slot& slot = slots_[hash & mask_];
        if (slot.entry != kEmpty) __builtin_prefetch(&nodes_[slot.entry]);
    }

private:
    static constexpr std::uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t entry = kEmpty;
    };

    // The slot that holds `id`, or the empty one where it would go.
    std::size_t probe(std::string_view id, std::uint64_t hash) const {
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.entry == kEmpty || (slot.tag == tag && nodes_[slot.entry].id == id)) return i;
        }
    }

    const std::vector<VornNode>& nodes_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// How many lookups ahead the memory of a lookup is asked for: its slot, then half as far ahead its entry.
constexpr std::size_t kAhead = 16;

}  // namespace

std::string ValidationError::message() const {
    switch (kind) {
        case ValidationErrorKind::DuplicateNodeId: return "Duplicate node ID: " + node_id + path_suffix(path);
        case ValidationErrorKind::UnknownNodeReference:
            return "Unknown node reference '" + node_id + "'" +
                   (link_id ? " in link '" + *link_id + "'" : std::string()) + path_suffix(path);
        case ValidationErrorKind::SelfLoop: return "Self-loop detected in link '" + link_name + "'";
        case ValidationErrorKind::InvalidDistance:
            return "Invalid distance " + plain_number_text(value) + " km for link '" + link_name + "' (must be > 0)" +
                   path_suffix(path);
        case ValidationErrorKind::InvalidFidelity:
            return "Invalid fidelity " + plain_number_text(value) + " for link '" + link_name +
                   "' (must be 0 < x <= 1)" + path_suffix(path);
        case ValidationErrorKind::InvalidGenerationRate:
            return "Invalid generation rate " + plain_number_text(value) + " Hz for link '" + link_name +
                   "' (must be > 0)" + path_suffix(path);
        case ValidationErrorKind::GraphDisconnected:
            return "Graph is disconnected with " + std::to_string(components) + " components" + path_suffix(path);
    }
    return {};
}

std::string_view ValidationError::code() const {
    switch (kind) {
        case ValidationErrorKind::DuplicateNodeId: return "DuplicateNodeId";
        case ValidationErrorKind::UnknownNodeReference: return "UnknownNodeReference";
        case ValidationErrorKind::SelfLoop: return "SelfLoop";
        case ValidationErrorKind::InvalidDistance: return "InvalidDistance";
        case ValidationErrorKind::InvalidFidelity: return "InvalidFidelity";
        case ValidationErrorKind::InvalidGenerationRate: return "InvalidGenerationRate";
        case ValidationErrorKind::GraphDisconnected: return "GraphDisconnected";
    }
    return "ValidationError";
}

std::string ValidationError::location() const {
    if (list.empty()) return {};
    std::string out = std::string(list) + "[" + std::to_string(index) + "]";
    if (!key.empty()) (out += '.') += key;
    return out;
}

std::string ValidationError::type_text() const {
    switch (kind) {
        case ValidationErrorKind::DuplicateNodeId: return "DuplicateNodeId: " + node_id;
        case ValidationErrorKind::UnknownNodeReference:
            return "UnknownNodeReference: " + node_id + (link_id ? "[" + *link_id + "]" : std::string());
        case ValidationErrorKind::SelfLoop: return "SelfLoop: " + link_name;
        case ValidationErrorKind::InvalidDistance:
            return "InvalidDistance: " + plain_number_text(value) + " km for link '" + link_name + "'";
        case ValidationErrorKind::InvalidFidelity:
            return "InvalidFidelity: " + plain_number_text(value) + " for link '" + link_name + "'";
        case ValidationErrorKind::InvalidGenerationRate:
            return "InvalidGenerationRate: " + plain_number_text(value) + " Hz for link '" + link_name + "'";
        case ValidationErrorKind::GraphDisconnected:
            return "GraphDisconnected: " + std::to_string(components) + " components";
    }
    return {};
}

ValidationResult validate_all(const VornFile& file, Interruption* interruption) {
    ValidationResult result;
    InterruptionPoll poll(interruption, 4096);

    // One vertex per node entry; a repeated id maps to its last entry, which leaves the earlier
    // entries without edges. The same map answers whether a link end names a node.
    const std::size_t node_count = file.nodes.size();
    const std::size_t link_count = file.links.size();
    NodeIndex vertex_of(file.nodes);
    // The hashes of the next kAhead ids, computed as their lookups are asked for.
    std::array<std::uint64_t, 2 * kAhead> ahead{};
    const auto node_hash = [&](std::size_t i) -> std::uint64_t& { return ahead[i % kAhead]; };
    for (std::size_t i = 0; i < node_count && i < kAhead; ++i) node_hash(i) = hash_id(file.nodes[i].id);
    for (std::size_t i = 0; i < node_count; ++i) {
        poll.advance();
        const std::uint64_t hash = node_hash(i);
        if (i + kAhead < node_count) {
            node_hash(i) = hash_id(file.nodes[i + kAhead].id);
            vertex_of.prefetch(node_hash(i));
        }
        if (vertex_of.assign(i, hash)) continue;
        ValidationError error = make_error(ValidationErrorKind::DuplicateNodeId, "nodes", i, "id");
        error.node_id = file.nodes[i].id;
        result.add_error(std::move(error));
    }

    // Links joining two known nodes are united kAhead links after their lookups, their sets asked for
    // in between.
    DisjointSets components(node_count);
    std::array<std::pair<std::size_t, std::size_t>, kAhead> pending{};
    std::size_t queued = 0;
    std::size_t united = 0;
    const auto unite_pending = [&] {
        const auto& [a, b] = pending[united++ % kAhead];
        components.unite(a, b);
    };
    const auto end_hash = [&](std::size_t k, int end) -> std::uint64_t& { return ahead[2 * (k % kAhead) + end]; };
    const auto hash_ends = [&](std::size_t k) {
        end_hash(k, 0) = hash_id(file.links[k].figures.from);
        end_hash(k, 1) = hash_id(file.links[k].figures.to);
        vertex_of.prefetch(end_hash(k, 0));
        vertex_of.prefetch(end_hash(k, 1));
    };
    for (std::size_t k = 0; k < link_count && k < kAhead; ++k) hash_ends(k);
    for (std::size_t k = 0; k < link_count; ++k) {
        const VornLink& link = file.links[k];
        const LinkFigures& figures = link.figures;
        poll.advance();
        if (k + kAhead / 2 < link_count) {
            vertex_of.prefetch_entry(end_hash(k + kAhead / 2, 0));
            vertex_of.prefetch_entry(end_hash(k + kAhead / 2, 1));
        }
        const std::size_t from = vertex_of.find(figures.from, end_hash(k, 0));
        const std::size_t to = vertex_of.find(figures.to, end_hash(k, 1));
        if (k + kAhead < link_count) hash_ends(k + kAhead);
        if (from != NodeIndex::npos && to != NodeIndex::npos) {
            components.prefetch(from);
            components.prefetch(to);
            pending[queued++ % kAhead] = {from, to};
            if (queued - united == kAhead) unite_pending();
        }
        if (figures.from == figures.to) {
            ValidationError error = make_error(ValidationErrorKind::SelfLoop, "links", k);
            error.link_name = link_name(link);
            result.add_error(std::move(error));
        }
        for (const auto& [end, found, key] :
             {std::tuple{&figures.from, from, "from"}, std::tuple{&figures.to, to, "to"}}) {
            if (found != NodeIndex::npos) continue;
            ValidationError error = make_error(ValidationErrorKind::UnknownNodeReference, "links", k, key);
            error.node_id = *end;
            error.link_id = link.id;
            result.add_error(std::move(error));
        }
        // Comparisons are written so that NaN passes the distance and rate checks and fails fidelity.
        if (figures.distance_km <= 0.0) {
            ValidationError error = make_error(ValidationErrorKind::InvalidDistance, "links", k, "distance_km");
            error.link_name = link_name(link);
            error.value = figures.distance_km;
            result.add_error(std::move(error));
        }
        if (!(figures.base_fidelity > 0.0 && figures.base_fidelity <= 1.0)) {
            ValidationError error = make_error(ValidationErrorKind::InvalidFidelity, "links", k, "base_fidelity");
            error.link_name = link_name(link);
            error.value = figures.base_fidelity;
            result.add_error(std::move(error));
        }
        if (figures.generation_rate_hz <= 0.0) {
            ValidationError error =
                make_error(ValidationErrorKind::InvalidGenerationRate, "links", k, "generation_rate_hz");
            error.link_name = link_name(link);
            error.value = figures.generation_rate_hz;
            result.add_error(std::move(error));
        }
    }

    while (united < queued) unite_pending();
    if (components.roots() > 1) {
        ValidationError error = make_error(ValidationErrorKind::GraphDisconnected);
        error.components = components.roots();
        result.add_error(std::move(error));
    }
    return result;
}

std::string validation_report(const ValidationResult& result, Interruption* interruption) {
    InterruptionPoll poll(interruption, 1024);
    std::string report = result.valid ? "Validation passed.\n" : "Validation failed.\n";
    if (!result.errors.empty()) {
        report += "\nErrors:\n";
        for (const ValidationError& error : result.errors) {
            poll.advance();
            report += "   - " + error.message() + "\n";
        }
    }
    if (!result.warnings.empty()) {
        report += "\nWarnings:\n";
        for (const ValidationWarning& warning : result.warnings) {
            poll.advance();
            report += "   - " + warning.message + " [" + (warning.path ? *warning.path : "unknown") + "]\n";
        }
    }
    return report;
}

}  // namespace vorn::files
