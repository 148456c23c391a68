// The cycles of one admitted request: the rules that a single request and every ensemble trial share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/admission.hpp"
#include "core/interruption_poll.hpp"
#include "core/link_physics.hpp"
#include "core/loss_generator.hpp"
#include "core/request.hpp"
#include "core/request_generator.hpp"

namespace vorn {

inline constexpr double kCycleMs = 2.5;
inline constexpr double kPurificationMs = 0.85;

// Cycles end when the clock reaches the latency bound or the cut-off. A request that can no longer
// succeed (one failed attempt is enough) would otherwise cycle forever when neither bound can be
// reached: both infinite, or so large (beyond 2^52 ms, some 140,000 years) that 2.5 ms steps stop
// moving the clock. Only then is the number of cycles capped, at 2^20 — 2,621.44 s of simulated
// clock, over 500 times the default cut-off — and the request ends as if a bound had been reached.
// Any reachable bound is honoured however many cycles it takes.
inline constexpr std::uint64_t kMaxCyclesPerRequest = std::uint64_t{1} << 20;
inline constexpr double kUnreachableBoundMs = 4503599627370496.0;  // 2^52

inline std::uint64_t cycle_limit(double max_latency_ms, double cutoff_ms) {
    // A NaN bound ends the first cycle by itself; fmin looks past it to the other bound.
    return std::fmin(max_latency_ms, cutoff_ms) < kUnreachableBoundMs ? UINT64_MAX : kMaxCyclesPerRequest;
}

// Units of work (draws, cycles, trials) between two looks at the clock for an interruption: a few
// hundred microseconds.
inline constexpr std::uint64_t kWorkPerClockCheck = 1u << 16;

// The cycles a request still runs once it can no longer succeed, and where its clock stops.
struct CycleTail {
    std::uint64_t cycles = 0;
    double clock_ms = 0.0;
};

// Where the cycles of a request must stop: its latency bound and the configuration's cut-off.
class CycleBounds {
public:
    CycleBounds(double max_latency_ms, double cutoff_ms)
        : max_latency_ms(max_latency_ms),
          cutoff_ms(cutoff_ms),
          cycle_limit(vorn::cycle_limit(max_latency_ms, cutoff_ms)) {}

    // Whether the clock, just advanced to `clock_ms` after cycle number `cycles`, allows another cycle.
    bool continues(double clock_ms, std::uint64_t cycles) const {
        return clock_ms < max_latency_ms && clock_ms < cutoff_ms && cycles < cycle_limit;
    }
    // Stepping the clock on from `clock_ms` after cycle number `cycles` failed. Far bounds make this
    // long, so it polls.
    CycleTail tail(double clock_ms, std::uint64_t cycles, InterruptionPoll& poll) const;
    // The same after a failure in the first cycle, the commonest case: worked out by the first
    // trial that needs it, then reused, so that only trials that run long pay for far bounds.
    const CycleTail& tail_after_first_cycle(InterruptionPoll& poll) const;

    double max_latency_ms = 0.0;
    double cutoff_ms = 0.0;
    std::uint64_t cycle_limit = 0;

private:
    mutable std::optional<CycleTail> tail_after_first_cycle_;
};

// Everything else the cycles of an admitted request depend on, worked out once: for an ensemble,
// once for all its trials; for a prepared request, once for all its runs under any bounds.
class CyclePlan {
public:
    // `admission` must have admitted the request (no refusal).
    CyclePlan(const Admission& admission, double fidelity_target, const TimelineSettings& settings);

    std::size_t hops() const { return success_below.size(); }

    // Per hop: an attempt succeeds exactly when the top 52 bits of its 64-bit draw are below this
    // (the same decision as a uniform draw below the attempt probability).
    std::vector<std::uint64_t> success_below;
    bool swaps = false;  // three or more nodes; only a swap needs every pair, so only it feels a loss
    double fidelity_target = 0.0;
    double purify_factor = 0.0;
    double admitted_fidelity = 0.0;
    double swapped_fidelity = 0.0;  // after a cycle in which every pair arrived
};

struct CycleOutcome {
    bool success = false;
    double latency_ms = 0.0;
    double fidelity = 0.0;
    std::uint64_t congestion_drops = 0;
    std::uint64_t cycles = 0;  // every cycle attempts every hop once
    // Set by run_cycles_until_failure when an attempt failed: the request can no longer succeed,
    // `latency_ms` is the clock of that cycle and `congestion_drops` its failures; the tail is still to run.
    bool failed_attempt = false;
};

// A record for callers that keep nothing of the pairs: it only counts how many arrived.
class PairCount {
public:
    void generated(std::size_t, double) {}

    template <class Losses>
    std::size_t deliver(double, std::size_t pairs, Losses* losses) {
        std::size_t arrived = pairs;
        if (losses)
            for (std::size_t i = 0; i < pairs; ++i) arrived -= losses->pair_lost();
        return arrived;
    }
};

// Draws made in the remaining cycles only count failures: nothing else depends on them.
inline std::uint64_t tail_failures(const CyclePlan& plan, std::uint64_t cycles, RequestGenerator& draws,
                                   InterruptionPoll& poll) {
    constexpr std::uint64_t kCyclesPerPoll = 4096;
    std::uint64_t failed = 0;
    while (cycles > 0) {
        const std::uint64_t chunk = std::min(cycles, kCyclesPerPoll);
        failed += draws.count_at_or_above(plan.success_below, chunk);
        poll.advance(chunk * plan.hops());
        cycles -= chunk;
    }
    return failed;
}

// Runs the cycles of an admitted request one by one, up to success, a bound, or the first failed
// attempt (see CycleOutcome::failed_attempt). `Losses` (LossGenerator or KeyedLosses) makes the loss
// draws: `bool pair_lost()`. `Record` keeps what its caller wants of their pairs:
//   void generated(std::size_t hop, double clock_ms)
//       an attempt on `hop` succeeded: a pair is on its way
//   std::size_t deliver(double clock_ms, std::size_t pairs, Losses* losses)
//       the cycle's `pairs` pairs arrive, each lost when `losses` (if not null) says so; returns how
//       many arrived
template <class Record, class Losses>
CycleOutcome run_cycles_until_failure(const CyclePlan& plan, const CycleBounds& bounds, RequestGenerator& draws,
                                      Losses& losses, InterruptionPoll& poll, Record& record) {
    const std::size_t hops = plan.hops();
    std::uint64_t cycles = 0;
    double clock = 0.0;
    double fidelity = plan.admitted_fidelity;
    for (;;) {
        ++cycles;
        poll.advance(hops + 1);  // the cycle counts too, so that a route without hops stays interruptible
        std::uint64_t failed = 0;
        for (std::size_t hop = 0; hop < hops; ++hop) {
            const bool generated = (draws.next_u64() >> 12) < plan.success_below[hop];
            if (generated) record.generated(hop, clock);
            failed += !generated;
        }
        // Every pair was generated at the clock, so all arrive now. Losses are drawn only where they
        // can change the outcome: on a route that swaps, in a cycle without failed attempts.
        const bool losses_matter = failed == 0 && plan.swaps;
        const std::size_t arrived = record.deliver(clock, hops - failed, losses_matter ? &losses : nullptr);
        if (failed > 0) return {false, clock, 0.0, failed, cycles, true};
        if (losses_matter && arrived == hops) fidelity = plan.swapped_fidelity;
        if (fidelity < plan.fidelity_target && fidelity > 0.5) {
            clock += kPurificationMs;
            fidelity = purify(fidelity, plan.purify_factor);
        }
        if (fidelity >= plan.fidelity_target) return {true, clock, fidelity, 0, cycles};
        if (clock >= bounds.max_latency_ms) return {false, clock, 0.0, 0, cycles};
        clock += kCycleMs;
        if (!bounds.continues(clock, cycles)) return {false, clock, 0.0, 0, cycles};
    }
}

// The whole request: the cycles after the first failed attempt only step the clock and count
// failures, in bulk.
template <class Record, class Losses>
CycleOutcome run_cycles(const CyclePlan& plan, const CycleBounds& bounds, RequestGenerator& draws, Losses& losses,
                        InterruptionPoll& poll, Record& record) {
    CycleOutcome outcome = run_cycles_until_failure(plan, bounds, draws, losses, poll, record);
    if (!outcome.failed_attempt) return outcome;
    const CycleTail tail = outcome.cycles == 1 ? bounds.tail_after_first_cycle(poll)
                                               : bounds.tail(outcome.latency_ms, outcome.cycles, poll);
    outcome.congestion_drops += tail_failures(plan, tail.cycles, draws, poll);
    outcome.cycles += tail.cycles;
    outcome.latency_ms = tail.clock_ms;
    outcome.failed_attempt = false;
    return outcome;
}

}  // namespace vorn
