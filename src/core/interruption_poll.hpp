// Turns an Interruption into a cheap check for hot loops: count work, look at the clock now and
// then, and ask the Interruption only every few milliseconds.
#pragma once

#include <chrono>
#include <cstdint>

#include "core/failure.hpp"

namespace vorn {

class InterruptionPoll {
public:
    // `units_per_clock_check` should be a few hundred microseconds of the caller's work.
    InterruptionPoll(Interruption* interruption, std::uint64_t units_per_clock_check)
        : interruption_(interruption), units_per_check_(units_per_clock_check) {}

    void advance(std::uint64_t units = 1) {
        pending_ += units;
        if (pending_ >= units_per_check_ && interruption_) check();
    }

private:
    static constexpr std::chrono::milliseconds kAskInterval{2};

    void check() {
        pending_ = 0;
        auto now = std::chrono::steady_clock::now();
        if (now - last_ask_ < kAskInterval) return;
        last_ask_ = now;
        if (interruption_->requested()) throw Interrupted();
    }

    Interruption* interruption_;
    std::uint64_t units_per_check_;
    std::uint64_t pending_ = 0;
    std::chrono::steady_clock::time_point last_ask_{};  // the first check asks: no clock read for short calls
};

}  // namespace vorn
