#include "files/text_position.hpp"

#include <algorithm>
#include <numeric>

namespace vorn::files {

std::vector<TextPosition> text_positions(std::string_view text, std::span<const std::size_t> offsets) {
    std::vector<std::size_t> order(offsets.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    std::vector<TextPosition> positions(offsets.size());
    TextPosition at;
    std::size_t scanned = 0;
    for (const std::size_t i : order) {
        const std::size_t end = std::min(offsets[i], text.size());
        for (; scanned < end; ++scanned) {
            const char c = text[scanned];
            if (c == '\n') {
                ++at.line;
                at.column = 1;
            } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
                ++at.column;
            }
        }
        positions[i] = at;
    }
    return positions;
}

}  // namespace vorn::files
