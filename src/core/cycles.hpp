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
#include "core/random/keyed_stream.hpp"
#include "core/request.hpp"
#include "core/tail_count.hpp"

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

// Where the cycles of a request stand between two cycles: those run so far, the clock and the
// fidelity carried into the next.
struct CycleState {
    std::uint64_t cycles = 0;
    double clock_ms = 0.0;
    double fidelity = 0.0;
};

// Everything else the cycles of an admitted request depend on, worked out once: for an ensemble,
// once for all its trials; for a prepared request, once for all its runs under any bounds.
class CyclePlan {
public:
    // `admission` must have admitted the request (no refusal).
    CyclePlan(const Admission& admission, double fidelity_target, const TimelineSettings& settings);

    std::size_t hops() const { return thresholds.hops(); }

    // Per hop: an attempt succeeds exactly when the top 52 bits of its 64-bit draw are below this
    // (the same decision as a uniform draw below the attempt probability).
    AttemptThresholds thresholds;
    bool swaps = false;  // three or more nodes; only a swap needs every pair, so only it feels a loss
    double fidelity_target = 0.0;
    double purify_factor = 0.0;
    double admitted_fidelity = 0.0;
    double swapped_fidelity = 0.0;  // after a cycle in which every pair arrived

    CycleState start() const { return {0, 0.0, admitted_fidelity}; }
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

// The end of a cycle in which every attempt succeeded; `swapped` says whether the route swaps and every
// pair arrived. Gives the outcome when the request ends with this cycle; otherwise moves `state` on to
// the next cycle and gives nothing.
std::optional<CycleOutcome> complete_cycle(const CyclePlan& plan, const CycleBounds& bounds, CycleState& state,
                                           bool swapped);

// Runs the cycles of an admitted request one by one from `state` (by default its start), up to
// success, a bound, or the first failed attempt (see CycleOutcome::failed_attempt). `Losses`
// (LossGenerator or KeyedLosses) makes the loss draws: `bool pair_lost()`. `Record` keeps what its
// caller wants of their pairs:
//   void generated(std::size_t hop, double clock_ms)
//       an attempt on `hop` succeeded: a pair is on its way
//   std::size_t deliver(double clock_ms, std::size_t pairs, Losses* losses)
//       the cycle's `pairs` pairs arrive, each lost when `losses` (if not null) says so; returns how
//       many arrived
template <class Record, class Losses>
CycleOutcome run_cycles_until_failure(const CyclePlan& plan, const CycleBounds& bounds, KeyedStream& draws,
                                      Losses& losses, InterruptionPoll& poll, Record& record, CycleState state) {
    const std::size_t hops = plan.hops();
    for (;;) {
        ++state.cycles;
        poll.advance(hops + 1);  // the cycle counts too, so that a route without hops stays interruptible
        std::uint64_t failed = 0;
        for (std::size_t hop = 0; hop < hops; ++hop) {
            const bool generated = (draws.next_u64() >> 12) < plan.thresholds[hop];
            if (generated) record.generated(hop, state.clock_ms);
            failed += !generated;
        }
        // Every pair was generated at the clock, so all arrive now. Losses are drawn only where they
        // can change the outcome: on a route that swaps, in a cycle without failed attempts.
        const bool losses_matter = failed == 0 && plan.swaps;
        const std::size_t arrived = record.deliver(state.clock_ms, hops - failed, losses_matter ? &losses : nullptr);
        if (failed > 0) return {false, state.clock_ms, 0.0, failed, state.cycles, true};
        if (auto outcome = complete_cycle(plan, bounds, state, losses_matter && arrived == hops)) return *outcome;
    }
}

// The whole request: the cycles after the first failed attempt only step the clock and count
// failures, in bulk. Those failures are left to `tails` (added to its count, perhaps only when it is
// flushed), not to the outcome, so that the tails of many requests share their blocks.
template <class Record, class Losses>
CycleOutcome run_cycles(const CyclePlan& plan, const CycleBounds& bounds, KeyedStream& draws, Losses& losses,
                        InterruptionPoll& poll, Record& record, TailCounter& tails, CycleState state) {
    CycleOutcome outcome = run_cycles_until_failure(plan, bounds, draws, losses, poll, record, state);
    if (!outcome.failed_attempt) return outcome;
    const CycleTail tail = outcome.cycles == 1 ? bounds.tail_after_first_cycle(poll)
                                               : bounds.tail(outcome.latency_ms, outcome.cycles, poll);
    tails.add(draws, tail.cycles);
    outcome.cycles += tail.cycles;
    outcome.latency_ms = tail.clock_ms;
    outcome.failed_attempt = false;
    return outcome;
}

// The same for one request on its own, its tail's failures in the outcome.
template <class Record, class Losses>
CycleOutcome run_cycles(const CyclePlan& plan, const CycleBounds& bounds, KeyedStream& draws, Losses& losses,
                        InterruptionPoll& poll, Record& record) {
    TailCounter tails(plan.thresholds, poll);
    CycleOutcome outcome = run_cycles(plan, bounds, draws, losses, poll, record, tails, plan.start());
    tails.flush();
    outcome.congestion_drops += tails.failures();
    return outcome;
}

}  // namespace vorn
