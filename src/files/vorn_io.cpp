#include "files/vorn_io.hpp"

#include <stdexcept>

#include "files/text_file.hpp"
#include "files/validation.hpp"
#include "files/vorn_format.hpp"

namespace vorn::files {

Result<VornFile> load_vorn_file(const std::string& path, Interruption* interruption) {
    std::variant<std::string, ReadFailure> text = read_text_file(path, interruption);
    if (const auto* failure = std::get_if<ReadFailure>(&text)) return VornError::io(failure->text);
    Result<VornFile> parsed = read_vorn_json(std::get<std::string>(text), interruption);
    if (!parsed) return parsed;
    VornFile& file = parsed.value();
    if (file.version != "1.0") return VornError::unsupported_version(file.version);
    ValidationResult validation = validate_all(file);
    if (!validation.valid) return VornError::failed_validation(std::move(validation));
    return parsed;
}

Result<void> save_vorn_file(const std::string& path, const VornFile& file, Interruption* interruption) {
    std::string text;
    try {
        text = write_vorn_json(file);
    } catch (const std::logic_error& failure) {
        return VornError::json(failure.what(), 0, 0);
    }
    if (const std::error_code error = write_text_file(path, text, interruption)) return VornError::io(error.message());
    return {};
}

}  // namespace vorn::files
