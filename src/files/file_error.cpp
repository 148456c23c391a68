#include "files/file_error.hpp"

#include <cstring>
#include <system_error>

#include "core/failure.hpp"

namespace vorn::files {
namespace {

std::string_view system_error_name(int code) {
    const char* name = ::strerrorname_np(code);
    return name ? std::string_view(name) : std::string_view("ESYSTEM");
}

std::string system_error_text(int code) { return std::error_code(code, std::generic_category()).message(); }

}  // namespace

FileError FileError::read(int system_error) {
    return {FileErrorKind::Read, system_error_name(system_error), system_error_text(system_error), 0, 0, {}, {}};
}

FileError FileError::write(int system_error) {
    return {FileErrorKind::Write, system_error_name(system_error), system_error_text(system_error), 0, 0, {}, {}};
}

std::string FileError::positioned_message() const {
    if (line == 0) return message;
    return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

std::string vorn_error_text(const FileError& error, Interruption* interruption) {
    switch (error.kind) {
        case FileErrorKind::Read:
        case FileErrorKind::Write: return "IO error: " + error.message;
        case FileErrorKind::Json:
        case FileErrorKind::Unwritable: return "JSON parse error: " + error.positioned_message();
        case FileErrorKind::UnsupportedVersion: return "Unsupported vorn version: " + error.message;
        case FileErrorKind::Validation:
            return "Validation failed:\n" +
                   (error.validation ? validation_report(*error.validation, interruption) : std::string());
        case FileErrorKind::NoNetwork: break;
    }
    throw Panic("a .vorn file operation reported a failure of another kind");
}

std::string snapshot_error_text(const FileError& error) {
    switch (error.kind) {
        case FileErrorKind::NoNetwork: return "No network topology to save";
        case FileErrorKind::Read: return "Failed to read topology file: " + error.message;
        case FileErrorKind::Write:
        case FileErrorKind::Unwritable: return "Failed to write topology file: " + error.message;
        case FileErrorKind::Json: return "Failed to parse topology JSON: " + error.positioned_message();
        case FileErrorKind::UnsupportedVersion:
        case FileErrorKind::Validation: break;
    }
    throw Panic("a snapshot operation reported a failure of another kind");
}

}  // namespace vorn::files
