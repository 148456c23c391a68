// Semantic checks of a parsed .vorn file: every rule runs over the whole file and all findings
// are returned together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"

namespace vorn::files {

struct VornFile;

enum class ValidationErrorKind : std::uint8_t {
    DuplicateNodeId,
    UnknownNodeReference,
    SelfLoop,
    InvalidDistance,
    InvalidFidelity,
    InvalidGenerationRate,
    GraphDisconnected,
};

// One finding. Which data fields are meaningful depends on the kind:
//   DuplicateNodeId        node_id
//   UnknownNodeReference   node_id, link_id (absent for a link without id)
//   SelfLoop               link_name
//   InvalidDistance, InvalidFidelity, InvalidGenerationRate   link_name, value
//   GraphDisconnected      components
// link_name is the link's id, or "unknown" for a link without one.
struct ValidationError {
    ValidationErrorKind kind = ValidationErrorKind::DuplicateNodeId;
    std::string node_id;
    std::optional<std::string> link_id;
    std::string link_name;
    double value = 0.0;
    std::size_t components = 0;
    std::optional<std::string> path;  // never set by validate_all: it would change the message texts

    // Where the finding is, for programs: the list of the entry ("nodes" or "links"; empty for a
    // finding about the whole graph), its index, and the key of the value concerned (empty for
    // the whole entry, as for a self-loop).
    std::string_view list;
    std::size_t index = 0;
    std::string_view key;

    // "Duplicate node ID: A", "Graph is disconnected with 2 components", ...
    std::string message() const;
    // "DuplicateNodeId: A", "GraphDisconnected: 2 components", ...
    std::string type_text() const;
    // "DuplicateNodeId", ...
    std::string_view code() const;
    // "links[3].from", "nodes[1].id", "links[0]"; empty for a finding about the whole graph.
    std::string location() const;
};

struct ValidationWarning {
    std::string message;
    std::optional<std::string> path;
};

struct ValidationResult {
    std::vector<ValidationError> errors;
    std::vector<ValidationWarning> warnings;
    bool valid = true;

    void add_error(ValidationError error) {
        errors.push_back(std::move(error));
        valid = false;
    }
};

// Runs the rules in order: duplicate ids, then the link checks link by link (self-loop, unknown
// from, unknown to, distance, fidelity, rate), then connectivity. Linear in the size of the file.
// Asks `interruption` now and then; a stop throws Interrupted (nothing else can fail).
ValidationResult validate_all(const VornFile& file, Interruption* interruption = nullptr);

// "Validation passed.\n" or "Validation failed.\n", then the "Errors:" and "Warnings:" sections.
// Asks `interruption` now and then (a file can have millions of findings); a stop throws Interrupted.
std::string validation_report(const ValidationResult& result, Interruption* interruption = nullptr);

}  // namespace vorn::files
