#include "files/vorn_io.hpp"

#include "core/failure.hpp"
#include "files/discard_later.hpp"
#include "files/text_file.hpp"
#include "files/validation.hpp"
#include "files/vorn_format.hpp"

namespace vorn::files {

Result<VornFile> load_vorn_file(const std::string& path, Interruption* interruption) {
    Result<FileText> text = read_text_file(path, interruption);
    if (!text) return std::move(text).error();
    Result<VornFile> parsed = read_vorn_json(text.value(), interruption);
    if (!parsed) return parsed;
    VornFile& file = parsed.value();
    if (file.version != "1.0") return FileError::unsupported_version(file.version);
    ValidationResult validation;
    try {
        validation = validate_all(file, interruption);
    } catch (const Interrupted&) {
        discard_later(std::move(file));
        throw;
    }
    if (!validation.valid) return FileError::failed_validation(std::move(validation));
    return parsed;
}

std::string load_failure_text(const std::string& path, const FileError& error, Interruption* interruption) {
    return "Failed to load " + path + ": " + vorn_error_text(error, interruption);
}

Result<void> save_vorn_file(const std::string& path, const VornFile& file, Interruption* interruption) {
    Result<std::string> text = write_vorn_json(file);
    if (!text) return std::move(text).error();
    return write_text_file(path, text.value(), interruption);
}

}  // namespace vorn::files
