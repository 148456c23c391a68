#include "core/physics/chain_trial.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorn::physics {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

// Decay over `duration` at `rate`; nothing in no time, even for a memory that keeps nothing.
double decay_exponent(double duration, double rate) { return duration > 0.0 ? duration * rate : 0.0; }

}  // namespace

ChainTrials::ChainTrials(const Chain& chain, const PhysicalModel& model)
    : hops_(chain.hops.size()),
      decay_per_ms_(chain.decay_per_ms),
      swap_success_(model.swap_success_probability),
      swaps_draw_(model.swap_success_probability < 1.0),
      cutoff_ms_(model.cutoff_ms.value_or(kNever)),
      limit_ms_(model.max_waiting_time_ms.value_or(kNever)),
      next_success_(hops_, kNever),
      deadline_(hops_, kNever),
      other_end_(hops_, 0),
      segments_(hops_),
      holding_(hops_, 0) {
    for (const Hop& hop : chain.hops) {
        attempt_ms_.push_back(hop.attempt_ms);
        inverse_log_failure_.push_back(1.0 / std::log1p(-hop.success_probability));
        werner_.push_back(hop.werner);
    }
}

// The number of attempts up to and including the first success is geometric: one uniform u in
// (0, 1] gives 1 + floor(ln u / ln(1 − p)), whatever p is.
double ChainTrials::attempt_end(std::size_t hop, double now, KeyedStream& stream) const {
    const double failures = std::floor(std::log(stream.next_open_closed()) * inverse_log_failure_[hop]);
    return now + (failures + 1.0) * attempt_ms_[hop];
}

bool ChainTrials::swap_succeeds(KeyedStream& stream) const {
    return !swaps_draw_ || stream.next_open_closed() <= swap_success_;
}

// The segment over hops [first, last] joins nodes first and last + 1; each end decays at its node's rate.
double ChainTrials::decay(const Segment& segment, std::size_t first, std::size_t last, double now) const {
    return segment.decay_exponent +
           decay_exponent(now - segment.formed, decay_per_ms_[first] + decay_per_ms_[last + 1]);
}

ChainTrials::Segment ChainTrials::join(const Segment& left, std::size_t left_first, std::size_t middle,
                                       const Segment& right, std::size_t right_last, double now) const {
    return {left.werner_product * right.werner_product,
            decay(left, left_first, middle - 1, now) + decay(right, middle, right_last, now), now, left.first_stored,
            right.last_stored};
}

void ChainTrials::restart(std::size_t first, std::size_t last, double now, KeyedStream& stream) {
    for (std::size_t hop = first; hop <= last; ++hop) {
        holding_[hop] = 0;
        deadline_[hop] = kNever;
        next_success_[hop] = attempt_end(hop, now, stream);
    }
}

TrialOutcome ChainTrials::run(KeyedStream& stream, InterruptionPoll& poll) {
    restart(0, hops_ - 1, 0.0, stream);
    for (;;) {
        poll.advance();
        // The earliest event; at equal times successes come before expiries (a pair exactly as old
        // as the cut-off may still be swapped), and lower hops before higher ones.
        std::size_t hop = 0;
        for (std::size_t k = 1; k < hops_; ++k)
            if (next_success_[k] < next_success_[hop]) hop = k;
        double now = next_success_[hop];
        bool expiry = false;
        if (cutoff_ms_ != kNever)
            for (std::size_t k = 0; k < hops_; ++k)
                if (deadline_[k] < now) {
                    now = deadline_[k];
                    hop = k;
                    expiry = true;
                }
        if (now > limit_ms_) return {false, limit_ms_, 0.0};
        if (now == kNever) return {false, kNever, 0.0};

        if (expiry) {
            restart(hop, other_end_[hop], now, stream);
            continue;
        }
        // A fresh pair on `hop`, joined at once with the stored pairs on either side.
        std::size_t first = hop, last = hop;
        Segment segment{werner_[hop], 0.0, now, now, now};
        bool swapped = true;
        if (hop > 0 && holding_[hop - 1]) {
            first = other_end_[hop - 1];
            swapped = swap_succeeds(stream);
            segment = join(segments_[first], first, hop, segment, hop, now);
        }
        if (hop + 1 < hops_ && holding_[hop + 1]) {
            last = other_end_[hop + 1];
            swapped = swap_succeeds(stream) && swapped;
            segment = join(segment, first, hop + 1, segments_[hop + 1], last, now);
            deadline_[hop + 1] = kNever;
        }
        if (!swapped) {
            restart(first, last, now, stream);
            continue;
        }
        if (first == 0 && last == hops_ - 1) {
            const double werner = segment.werner_product * std::exp(-segment.decay_exponent);
            return {true, now, std::max(0.0, (1.0 + 3.0 * werner) / 4.0)};
        }
        holding_[hop] = 1;
        next_success_[hop] = kNever;
        other_end_[first] = last;
        other_end_[last] = first;
        segments_[first] = segment;
        deadline_[first] = std::min(segment.first_stored, segment.last_stored) + cutoff_ms_;
    }
}

}  // namespace vorn::physics
