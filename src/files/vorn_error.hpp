// The one failure type of loading, parsing and saving .vorn files, and the result type that
// carries it. The file functions report every failure through Result and throw nothing of their
// own (only std::bad_alloc can pass through).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "files/validation.hpp"

namespace vorn::files {

enum class VornErrorKind : std::uint8_t { Io, Json, UnsupportedVersion, Validation };

struct VornError {
    VornErrorKind kind = VornErrorKind::Io;
    // Io: the system's error text. Json: the problem, ending with "at line L column C".
    // UnsupportedVersion: the version text of the file. Validation: empty (see validation).
    std::string detail;
    std::size_t line = 0;                        // Json: 1-based position of the problem; 0 otherwise
    std::size_t column = 0;                      // counted in characters
    std::optional<ValidationResult> validation;  // Validation only

    static VornError io(std::string system_text) { return {VornErrorKind::Io, std::move(system_text), 0, 0, {}}; }
    static VornError json(std::string message, std::size_t line, std::size_t column) {
        return {VornErrorKind::Json, std::move(message), line, column, {}};
    }
    static VornError unsupported_version(std::string version) {
        return {VornErrorKind::UnsupportedVersion, std::move(version), 0, 0, {}};
    }
    static VornError failed_validation(ValidationResult result) {
        return {VornErrorKind::Validation, {}, 0, 0, std::move(result)};
    }

    // "IO error: ...", "JSON parse error: ...", "Unsupported vorn version: ...",
    // "Validation failed:\n" + the report of the result.
    std::string text() const {
        switch (kind) {
            case VornErrorKind::Io: return "IO error: " + detail;
            case VornErrorKind::Json: return "JSON parse error: " + detail;
            case VornErrorKind::UnsupportedVersion: return "Unsupported vorn version: " + detail;
            case VornErrorKind::Validation:
                return "Validation failed:\n" + (validation ? validation_report(*validation) : std::string());
        }
        return {};
    }
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(VornError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    // Asking for the side that is not there throws std::bad_variant_access.
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const VornError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, VornError> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(VornError error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_; }
    explicit operator bool() const noexcept { return ok(); }
    const VornError& error() const { return error_.value(); }

private:
    std::optional<VornError> error_;
};

}  // namespace vorn::files
