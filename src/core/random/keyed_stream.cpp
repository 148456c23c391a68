#include "core/random/keyed_stream.hpp"

namespace vorn {

// A stream started past its first block mostly needs only a little more: the next block alone comes
// first (about half the work of a full refill), and only then the blocks by the buffer's width.
void KeyedStream::refill() {
    const int blocks = counter_ == 1 ? 1 : kBufferBlocks;
    alignas(64) chacha12::LaneStates states;
    for (int lane = 0; lane < blocks; ++lane) {
        const std::uint64_t counter = counter_ + static_cast<std::uint64_t>(lane);
        for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
        for (int w = 0; w < 8; ++w) states[4 + w][lane] = key_[w];
        states[12][lane] = static_cast<std::uint32_t>(counter);
        states[13][lane] = static_cast<std::uint32_t>(counter >> 32);
        states[14][lane] = static_cast<std::uint32_t>(stream_);
        states[15][lane] = static_cast<std::uint32_t>(stream_ >> 32);
    }
    chacha12::blocks(states, buffer_, blocks);
    counter_ += static_cast<std::uint64_t>(blocks);
    pos_ = 0;
    set_length(static_cast<std::uint32_t>(blocks * chacha12::kBlockWords));
}

}  // namespace vorn
