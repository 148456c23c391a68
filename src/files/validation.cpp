#include "files/validation.hpp"

#include <numeric>
#include <string_view>
#include <unordered_map>

#include "core/number_text.hpp"

namespace vorn::files {
namespace {

std::string path_suffix(const std::optional<std::string>& path) { return path ? " [" + *path + "]" : std::string(); }

std::string link_name(const VornLink& link) { return link.id ? *link.id : std::string("unknown"); }

ValidationError make_error(ValidationErrorKind kind) {
    ValidationError error;
    error.kind = kind;
    return error;
}

class DisjointSets {
public:
    explicit DisjointSets(std::size_t count) : parent_(count), size_(count, 1), roots_(count) {
        std::iota(parent_.begin(), parent_.end(), std::size_t{0});
    }

    std::size_t find(std::size_t x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];
            x = parent_[x];
        }
        return x;
    }

    void unite(std::size_t a, std::size_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return;
        if (size_[a] < size_[b]) std::swap(a, b);
        parent_[b] = a;
        size_[a] += size_[b];
        --roots_;
    }

    std::size_t roots() const { return roots_; }

private:
    std::vector<std::size_t> parent_;
    std::vector<std::size_t> size_;
    std::size_t roots_;
};

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

ValidationResult validate_all(const VornFile& file) {
    ValidationResult result;

    // One vertex per node entry; a repeated id maps to its last entry, which leaves the earlier
    // entries without edges. The same map answers whether a link end names a node.
    std::unordered_map<std::string_view, std::size_t> vertex_of;
    vertex_of.reserve(file.nodes.size());
    for (std::size_t i = 0; i < file.nodes.size(); ++i) {
        const auto [at, inserted] = vertex_of.try_emplace(file.nodes[i].id, i);
        if (inserted) continue;
        at->second = i;
        ValidationError error = make_error(ValidationErrorKind::DuplicateNodeId);
        error.node_id = file.nodes[i].id;
        result.add_error(std::move(error));
    }

    DisjointSets components(file.nodes.size());
    for (const VornLink& link : file.links) {
        const LinkFigures& figures = link.figures;
        if (figures.from == figures.to) {
            ValidationError error = make_error(ValidationErrorKind::SelfLoop);
            error.link_name = link_name(link);
            result.add_error(std::move(error));
        }
        const auto from = vertex_of.find(figures.from);
        const auto to = vertex_of.find(figures.to);
        for (const auto& [end, found] : {std::pair{&figures.from, from}, std::pair{&figures.to, to}}) {
            if (found != vertex_of.end()) continue;
            ValidationError error = make_error(ValidationErrorKind::UnknownNodeReference);
            error.node_id = *end;
            error.link_id = link.id;
            result.add_error(std::move(error));
        }
        if (from != vertex_of.end() && to != vertex_of.end()) components.unite(from->second, to->second);
        // Comparisons are written so that NaN passes the distance and rate checks and fails fidelity.
        if (figures.distance_km <= 0.0) {
            ValidationError error = make_error(ValidationErrorKind::InvalidDistance);
            error.link_name = link_name(link);
            error.value = figures.distance_km;
            result.add_error(std::move(error));
        }
        if (!(figures.base_fidelity > 0.0 && figures.base_fidelity <= 1.0)) {
            ValidationError error = make_error(ValidationErrorKind::InvalidFidelity);
            error.link_name = link_name(link);
            error.value = figures.base_fidelity;
            result.add_error(std::move(error));
        }
        if (figures.generation_rate_hz <= 0.0) {
            ValidationError error = make_error(ValidationErrorKind::InvalidGenerationRate);
            error.link_name = link_name(link);
            error.value = figures.generation_rate_hz;
            result.add_error(std::move(error));
        }
    }

    if (components.roots() > 1) {
        ValidationError error = make_error(ValidationErrorKind::GraphDisconnected);
        error.components = components.roots();
        result.add_error(std::move(error));
    }
    return result;
}

std::string validation_report(const ValidationResult& result) {
    std::string report = result.valid ? "Validation passed.\n" : "Validation failed.\n";
    if (!result.errors.empty()) {
        report += "\nErrors:\n";
        for (const ValidationError& error : result.errors) report += "   - " + error.message() + "\n";
    }
    if (!result.warnings.empty()) {
        report += "\nWarnings:\n";
        for (const ValidationWarning& warning : result.warnings)
            report += "   - " + warning.message + " [" + (warning.path ? *warning.path : "unknown") + "]\n";
    }
    return report;
}

}  // namespace vorn::files
