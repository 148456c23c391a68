// Lines and columns of byte offsets in a text, computed only when a position is reported.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "core/failure.hpp"

namespace vorn::files {

struct TextPosition {
    std::size_t line = 1;    // 1-based
    std::size_t column = 1;  // counted in characters (UTF-8 sequences), 1-based
};

// The line and column of each byte offset (clamped to the text), in one pass over the text however
// many offsets there are. Asks `interruption` every megabyte or so; a stop throws Interrupted.
std::vector<TextPosition> text_positions(std::string_view text, std::span<const std::size_t> offsets,
                                         Interruption* interruption = nullptr);

inline TextPosition text_position(std::string_view text, std::size_t offset, Interruption* interruption = nullptr) {
    return text_positions(text, std::span(&offset, 1), interruption).front();
}

}  // namespace vorn::files
