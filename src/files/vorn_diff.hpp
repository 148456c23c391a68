// Comparing two .vorn files: what changed, as lists and as a report text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/node_link_changes.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

template <class T>
struct FieldChange {
    T old_value;
    T new_value;
};

using TextChange = FieldChange<std::string>;
using OptionalTextChange = FieldChange<std::optional<std::string>>;
using OptionalFloatChange = FieldChange<std::optional<double>>;
using OptionalCountChange = FieldChange<std::optional<std::uint32_t>>;

struct MetadataChange {
    std::optional<TextChange> name;
    std::optional<OptionalTextChange> description;
    std::optional<OptionalTextChange> author;
    std::optional<OptionalTextChange> created_at;
};

// When a section exists in only one file every field holds a change, absent on the other side.
struct ConfigChange {
    std::optional<OptionalFloatChange> alpha_loss;
    std::optional<OptionalFloatChange> beta_fidelity_decay;
    std::optional<OptionalFloatChange> gamma_swapping;
    std::optional<OptionalCountChange> max_attempts;
};

struct ConstraintsChange {
    std::optional<OptionalFloatChange> fidelity_target;
    std::optional<OptionalFloatChange> max_latency_ms;
};

struct VornDiff : NodeLinkChanges {
    std::string file1;
    std::string file2;
    std::optional<TextChange> version;
    std::optional<MetadataChange> metadata;
    std::optional<ConfigChange> config;
    std::optional<ConstraintsChange> constraints;
    bool extensions_changed = false;
    std::string summary;  // the report, every line ending with "\n"
};

// The paths only label the report. Floats compare exactly (NaN differs from everything) and a
// later node or link with the same id or key replaces an earlier one. Cannot fail.
VornDiff diff_vorn_files(std::string_view path1, std::string_view path2, const VornFile& first, const VornFile& second);

}  // namespace vorn::files
