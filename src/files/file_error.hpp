// The one failure record of the file layer, for both formats and every step (reading, parsing, the
// version, validation, writing), and the result type that carries it. File functions report every
// failure through Result; what they throw is Interrupted (a stop that was asked for), Panic (a
// broken invariant) or std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "core/failure.hpp"
#include "files/validation.hpp"

namespace vorn::files {

enum class FileErrorKind : std::uint8_t {
    Read,                // the file could not be read: message is the system's text, "not a regular file"
                         // or "file is not valid UTF-8 (byte offset N)"
    Write,               // the file could not be written: message is the system's text
    Json,                // the text is not a document of the format: message names the problem
    Unwritable,          // the record holds a value the format cannot write (a non-finite number)
    UnsupportedVersion,  // message is the document's version text
    Validation,          // the document breaks rules of its content: see `validation`
    NoNetwork,           // there is no network to write
};

struct FileError {
    FileErrorKind kind = FileErrorKind::Read;
    // A short name of the problem for programs: the system's error name for Read and Write
    // ("ENOENT"), the reader's problem for Json ("MissingKey"), the kind otherwise.
    std::string_view code;
    std::string message;
    std::size_t line = 0;  // 1-based position in the text, 0 when there is none; columns count characters
    std::size_t column = 0;
    std::string path;  // the entry concerned, as "links[3].from"; empty when the whole document is
    std::optional<ValidationResult> validation;  // Validation only

    static FileError read(int system_error);
    static FileError read(std::string_view code, std::string message) {
        return {FileErrorKind::Read, code, std::move(message), 0, 0, {}, {}};
    }
    static FileError write(int system_error);
    static FileError unsupported_version(std::string version) {
        return {FileErrorKind::UnsupportedVersion, "UnsupportedVersion", std::move(version), 0, 0, {}, {}};
    }
    static FileError failed_validation(ValidationResult result) {
        return {FileErrorKind::Validation, "Validation", {}, 0, 0, {}, std::move(result)};
    }
    static FileError no_network() { return {FileErrorKind::NoNetwork, "NoNetwork", {}, 0, 0, {}, {}}; }

    // The message with " at line L column C" when there is a position.
    std::string positioned_message() const;
};

// The texts callers of the .vorn functions see: "IO error: " + the system's text, "JSON parse error: "
// + the problem and its position (a value that cannot be written is a failure to produce the text,
// so it reads the same way), "Unsupported vorn version: " + the version, "Validation failed:\n" + the
// report of the result. Rendering a long report asks `interruption` now and then.
std::string vorn_error_text(const FileError& error, Interruption* interruption = nullptr);

// The texts callers of the snapshot functions see: "No network topology to save", "Failed to read
// topology file: ...", "Failed to write topology file: ..." (a value that cannot be written too)
// and "Failed to parse topology JSON: ..." with the problem and its position.
std::string snapshot_error_text(const FileError& error);

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(FileError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    // Asking for the side that is not there throws std::bad_variant_access.
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const FileError& error() const& { return std::get<1>(state_); }
    FileError&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, FileError> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(FileError error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_; }
    explicit operator bool() const noexcept { return ok(); }
    const FileError& error() const& { return error_.value(); }
    FileError&& error() && { return std::move(error_).value(); }

private:
    std::optional<FileError> error_;
};

}  // namespace vorn::files
