#include "files/vorn_diff.hpp"

#include "core/number_text.hpp"
#include "files/keyed_index.hpp"

namespace vorn::files {
namespace {

template <class T>
std::optional<FieldChange<T>> change_if_different(const T& old_value, const T& new_value) {
    if (old_value == new_value) return std::nullopt;
    return FieldChange<T>{old_value, new_value};
}

// Both present: only the fields that differ, or no change at all when none does. One present:
// every field, set against absent.
template <class Section, class Change, class Fill>
std::optional<Change> compare_sections(const std::optional<Section>& first, const std::optional<Section>& second,
                                       Fill fill) {
    if (!first && !second) return std::nullopt;
    if (first && second && *first == *second) return std::nullopt;
    Change change;
    fill(change, first ? *first : Section{}, second ? *second : Section{}, first && second);
    return change;
}

template <class T>
std::optional<FieldChange<std::optional<T>>> field_change(const std::optional<T>& old_value,
                                                          const std::optional<T>& new_value, bool only_differences) {
    if (only_differences) return change_if_different(old_value, new_value);
    return FieldChange<std::optional<T>>{old_value, new_value};
}

void list_line(std::string& out, std::string_view label, const std::vector<std::string>& items) {
    if (items.empty()) return;
    out += "  ";
    out += label;
    out += ": " + std::to_string(items.size()) + " (";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += items[i];
    }
    out += ")\n";
}

std::string float_change_text(const OptionalFloatChange& change) {
    return optional_debug_text(change.old_value) + " -> " + optional_debug_text(change.new_value);
}

std::string summary_of(const VornDiff& diff) {
    std::string out = "Diff between '" + diff.file1 + "' and '" + diff.file2 + "':\n";
    if (diff.version) out += "  Version: " + diff.version->old_value + " -> " + diff.version->new_value + "\n";
    if (diff.metadata) {
        out += "  Metadata changes:\n";
        if (diff.metadata->name)
            out +=
                "     - name: '" + diff.metadata->name->old_value + "' -> '" + diff.metadata->name->new_value + "'\n";
    }
    list_line(out, "Nodes added", diff.nodes_added);
    list_line(out, "Nodes removed", diff.nodes_removed);
    list_line(out, "Nodes modified", diff.nodes_modified);
    list_line(out, "Links added", diff.links_added);
    list_line(out, "Links removed", diff.links_removed);
    list_line(out, "Links modified", diff.links_modified);
    if (diff.config) {
        out += "  Config changes:\n";
        if (diff.config->alpha_loss) out += "     - alpha_loss: " + float_change_text(*diff.config->alpha_loss) + "\n";
    }
    if (diff.constraints) {
        out += "  Constraints changes:\n";
        if (diff.constraints->fidelity_target)
            out += "     - fidelity_target: " + float_change_text(*diff.constraints->fidelity_target) + "\n";
    }
    if (diff.extensions_changed) out += "  Extensions changed\n";
    return out;
}

bool extensions_differ(const std::optional<VornExtensions>& first, const std::optional<VornExtensions>& second) {
    if (first.has_value() != second.has_value()) return true;
    if (!first) return false;
    return !(first->custom == second->custom);
}

}  // namespace

VornDiff diff_vorn_files(std::string_view path1, std::string_view path2, const VornFile& first,
                         const VornFile& second) {
    VornDiff diff;
    diff.file1 = path1;
    diff.file2 = path2;
    diff.version = change_if_different(first.version, second.version);

    if (!(first.metadata == second.metadata)) {
        MetadataChange change;
        change.name = change_if_different(first.metadata.name, second.metadata.name);
        change.description = change_if_different(first.metadata.description, second.metadata.description);
        change.author = change_if_different(first.metadata.author, second.metadata.author);
        change.created_at = change_if_different(first.metadata.created_at, second.metadata.created_at);
        diff.metadata = std::move(change);
    }

    const auto differ = [](const auto& a, const auto& b) { return !(a == b); };
    static_cast<NodeLinkChanges&>(diff) =
        compare_nodes_and_links(first.nodes, second.nodes, first.links, second.links, differ, differ);

    diff.config = compare_sections<VornConfig, ConfigChange>(
        first.config, second.config, [](ConfigChange& change, const VornConfig& a, const VornConfig& b, bool both) {
            change.alpha_loss = field_change(a.alpha_loss, b.alpha_loss, both);
            change.beta_fidelity_decay = field_change(a.beta_fidelity_decay, b.beta_fidelity_decay, both);
            change.gamma_swapping = field_change(a.gamma_swapping, b.gamma_swapping, both);
            change.max_attempts = field_change(a.max_attempts, b.max_attempts, both);
        });
    diff.constraints = compare_sections<VornConstraints, ConstraintsChange>(
        first.constraints, second.constraints,
        [](ConstraintsChange& change, const VornConstraints& a, const VornConstraints& b, bool both) {
            change.fidelity_target = field_change(a.fidelity_target, b.fidelity_target, both);
            change.max_latency_ms = field_change(a.max_latency_ms, b.max_latency_ms, both);
        });
    diff.extensions_changed = extensions_differ(first.extensions, second.extensions);
    diff.summary = summary_of(diff);
    return diff;
}

}  // namespace vorn::files
