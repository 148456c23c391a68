#include "core/physics/chain_trial.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorn::physics {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

// Decay over `duration` at `rate`; nothing in no time, even for a memory that keeps nothing.
double decay_exponent(double duration, double rate) { return duration > 0.0 ? duration * rate : 0.0; }

// floor(x) for x >= 0, without a call: doubles from 2^52 on are whole already.
double whole_part(double x) { return x < 0x1p52 ? static_cast<double>(static_cast<std::int64_t>(x)) : x; }

}  // namespace

ChainTrials::ChainTrials(const Chain& chain, const PhysicalModel& model, Course course)
    : hops_(chain.hops.size()),
      decay_per_ms_(chain.decay_per_ms),
      werner_product_(1.0),
      swap_success_(model.swap_success_probability),
      swaps_draw_(model.swap_success_probability < 1.0),
      cutoff_ms_(model.cutoff_ms.value_or(kNever)),
      limit_ms_(model.max_waiting_time_ms.value_or(kNever)),
      follow_events_(course == Course::Events || swaps_draw_ || cutoff_ms_ != kNever),
      arrival_(hops_, 0.0),
      holding_(hops_, 0),
      other_end_(hops_, 0),
      expiry_(hops_, kNever) {
    for (const Hop& hop : chain.hops) {
        attempt_ms_.push_back(hop.attempt_ms);
        log_failure_.push_back(std::log1p(-hop.success_probability));
        werner_product_ *= hop.werner;
    }
}

// Hops [first, last] attempt afresh from `now`. The number of attempts up to and including the first
// success is geometric: one uniform u in (0, 1] gives 1 + floor(ln u / ln(1 − p)), whatever p is. (A
// quotient, not a product with 1 / ln(1 − p), which overflows for the smallest p and would turn u = 1 into
// NaN; an arrival that overflows is +inf, a pair that never comes.)
void ChainTrials::draw_arrivals(std::size_t first, std::size_t last, double now, KeyedStream& stream) {
    for (std::size_t hop = first; hop <= last; ++hop) {
        const double failures = whole_part(std::log(stream.next_open_closed()) / log_failure_[hop]);
        arrival_[hop] = now + (failures + 1.0) * attempt_ms_[hop];
    }
}

void ChainTrials::start(std::size_t first, std::size_t last, double now, KeyedStream& stream) {
    draw_arrivals(first, last, now, stream);
    std::fill(holding_.begin() + first, holding_.begin() + last + 1, 0);
    std::fill(expiry_.begin() + first, expiry_.begin() + last + 1, kNever);
}

bool ChainTrials::swap_succeeds(KeyedStream& stream) const {
    return !swaps_draw_ || stream.next_open_closed() <= swap_success_;
}

// Every qubit of the delivered pair's history decays at its node's rate while it is stored: the end
// qubits from their pair's arrival until `now`, the two qubits at a repeater node from their pairs'
// arrivals until the later of them, when the node swaps.
TrialOutcome ChainTrials::delivered(double now) const {
    double exponent = decay_exponent(now - arrival_[0], decay_per_ms_[0]) +
                      decay_exponent(now - arrival_[hops_ - 1], decay_per_ms_[hops_]);
    for (std::size_t node = 1; node < hops_; ++node)
        exponent += decay_exponent(std::abs(arrival_[node] - arrival_[node - 1]), decay_per_ms_[node]);
    const double werner = werner_product_ * std::exp(-exponent);
    return {true, now, std::max(0.0, (1.0 + 3.0 * werner) / 4.0)};
}

TrialOutcome ChainTrials::run(KeyedStream& stream, InterruptionPoll& poll) {
    if (!follow_events_) {
        draw_arrivals(0, hops_ - 1, 0.0, stream);
        poll.advance(hops_);
        const double last = *std::max_element(arrival_.begin(), arrival_.end());
        if (last > limit_ms_) return {false, limit_ms_, 0.0};
        if (last == kNever) return {false, kNever, 0.0};
        return delivered(last);
    }
    start(0, hops_ - 1, 0.0, stream);
    for (;;) {
        poll.advance();
        // The earliest event; at equal times arrivals come before expiries (a pair exactly as old
        // as the cut-off may still be swapped), and lower hops before higher ones.
        std::size_t hop = hops_;
        double now = kNever;
        for (std::size_t k = 0; k < hops_; ++k)
            if (!holding_[k] && arrival_[k] < now) now = arrival_[k], hop = k;
        bool expiry = false;
        for (std::size_t k = 0; k < hops_; ++k)
            if (expiry_[k] < now) now = expiry_[k], hop = k, expiry = true;
        if (now > limit_ms_) return {false, limit_ms_, 0.0};
        if (now == kNever) return {false, kNever, 0.0};
        if (expiry) {
            start(hop, other_end_[hop], now, stream);
            continue;
        }
        // A fresh pair on `hop`, swapped at once with the stored pairs on either side.
        std::size_t first = hop, last = hop;
        bool swapped = true;
        if (hop > 0 && holding_[hop - 1]) {
            first = other_end_[hop - 1];
            swapped = swap_succeeds(stream);
        }
        if (hop + 1 < hops_ && holding_[hop + 1]) {
            last = other_end_[hop + 1];
            swapped = swap_succeeds(stream) && swapped;
        }
        if (!swapped) {
            start(first, last, now, stream);
            continue;
        }
        if (first == 0 && last == hops_ - 1) return delivered(now);
        holding_[hop] = 1;
        other_end_[first] = last;
        other_end_[last] = first;
        if (hop + 1 < hops_) expiry_[hop + 1] = kNever;
        expiry_[first] = std::min(arrival_[first], arrival_[last]) + cutoff_ms_;
    }
}

}  // namespace vorn::physics
