#include "files/text_position.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>

#include "core/interruption_poll.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorn::files {
namespace {

// Walks a text once, keeping the line and column of the position reached.
class PositionWalk {
public:
    explicit PositionWalk(std::string_view text) : text_(text) {}

    // Moves on to `offset` (not back); 16 bytes a step where the processor allows.
    void advance_to(std::size_t offset) {
        const char* p = text_.data() + at_;
        const char* end = text_.data() + offset;
#if defined(__SSE2__)
        const __m128i newline = _mm_set1_epi8('\n');
        const __m128i last_continuation = _mm_set1_epi8(static_cast<char>(0xBF));
        for (; end - p >= 16; p += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const auto newlines = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
            // A character starts at every byte but the continuation bytes 0x80..0xBF (-128..-65 signed).
            const auto starts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, last_continuation)));
            if (newlines == 0) {
                column_ += static_cast<std::size_t>(std::popcount(starts));
            } else {
                line_ += static_cast<std::size_t>(std::popcount(newlines));
                const int last = 31 - std::countl_zero(newlines);
                column_ = 1 + static_cast<std::size_t>(std::popcount(starts >> last >> 1));
            }
        }
#endif
        for (; p < end; ++p) {
            if (*p == '\n') {
                ++line_;
                column_ = 1;
            } else if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) {
                ++column_;
            }
        }
        at_ = offset;
    }

    TextPosition position() const { return {line_, column_}; }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
    std::size_t column_ = 1;
};

}  // namespace

std::vector<TextPosition> text_positions(std::string_view text, std::span<const std::size_t> offsets,
                                         Interruption* interruption) {
    constexpr std::size_t kBytesPerPoll = std::size_t{1} << 20;
    std::vector<std::size_t> order(offsets.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    std::vector<TextPosition> positions(offsets.size());
    InterruptionPoll poll(interruption, 1);
    PositionWalk walk(text);
    std::size_t reached = 0;
    for (const std::size_t i : order) {
        const std::size_t target = std::min(offsets[i], text.size());
        while (target - reached > kBytesPerPoll) {
            reached += kBytesPerPoll;
            walk.advance_to(reached);
            poll.advance();
        }
        walk.advance_to(target);
        reached = target;
        positions[i] = walk.position();
    }
    return positions;
}

}  // namespace vorn::files
