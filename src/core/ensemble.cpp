#include "core/ensemble.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <type_traits>

#include "core/admission.hpp"
#include "core/cycles.hpp"
#include "core/ensemble/driver.hpp"
#include "core/interruption_poll.hpp"
#include "core/random/keyed_stream.hpp"

namespace vorn {
namespace {

// A sum in trial order, as one trial after another would add them.
struct RunningSum {
    double value = 0.0;

    void add(double term) { value += term; }
    double total() const { return value; }
};

template <class Sum>
struct Totals {
    std::uint64_t successes = 0;
    Sum fidelity;
    Sum latency_ms;
    std::uint64_t congestion_drops = 0;
    std::uint64_t cycles = 0;

    void add(const CycleOutcome& outcome) {
        if constexpr (std::is_same_v<Sum, RunningSum>) {
            // Adding 0.0 leaves a running sum as it is (it never holds -0.0), so no branch is needed.
            successes += outcome.success;
            fidelity.add(outcome.success ? outcome.fidelity : 0.0);
        } else if (outcome.success) {
            ++successes;
            fidelity.add(outcome.fidelity);
        }
        latency_ms.add(outcome.latency_ms);
        congestion_drops += outcome.congestion_drops;
        cycles += outcome.cycles;
    }

    // The same for each outcome in turn; running sums stay in registers meanwhile.
    void add(const CycleOutcome* const* outcomes, int count) {
        if constexpr (std::is_same_v<Sum, RunningSum>) {
            Totals local = *this;
            for (int i = 0; i < count; ++i) local.add(*outcomes[i]);
            *this = local;
        } else {
            for (int i = 0; i < count; ++i) add(*outcomes[i]);
        }
    }
};

// Every trial of a refused request ends the same way, without a cycle.
void add_refusals(Totals<RunningSum>& totals, const SimulationResult& refusal, std::uint64_t runs,
                  InterruptionPoll& poll) {
    for (std::uint64_t i = 0; i < runs; ++i) {
        totals.latency_ms.add(refusal.latency_ms);
        poll.advance();
    }
}

void add_refusals(Totals<ExactSum>& totals, const SimulationResult& refusal, std::uint64_t runs, InterruptionPoll&) {
    totals.latency_ms.add_times(refusal.latency_ms, runs);
}

// The thread's loss generator serves every trial.
class ThreadLosses {
public:
    explicit ThreadLosses(const CyclePlan&) {}
    void start_batch(const chacha12::LaneStates&, int) {}
    LossGenerator& for_trial(int) { return generator_; }

    // Draws for a batch's trials in turn from a local copy, which the compiler keeps in registers;
    // the thread's generator moves on with it at the end.
    class Batch {
    public:
        explicit Batch(LossGenerator& home) : local_(home), home_(home) {}
        Batch(const Batch&) = delete;
        ~Batch() { home_ = local_; }
        LossGenerator& for_trial(int) { return local_; }

    private:
        LossGenerator local_;
        LossGenerator& home_;
    };
    Batch batch() { return Batch(generator_); }

private:
    LossGenerator& generator_ = LossGenerator::for_this_thread();
};

// Each trial draws its losses from the stream of its own key. Routes that swap draw losses in most
// trials, so the first block of every trial's loss stream is computed with the batch.
class LossesBySeed {
public:
    // The loss streams' keys are those of the generation draws, which the batch holds already.
    static_assert(kKeyedLossDraws.key == kGenerationDraws.key);

    explicit LossesBySeed(const CyclePlan& plan) : needed_(plan.swaps) {
        chacha12::set_counter_and_stream(states_, 0, kKeyedLossDraws.stream);
    }
    void start_batch(const chacha12::LaneStates& keys, int count) {
        if (!needed_) return;
        for (int w = 4; w < 12; ++w) std::copy(std::begin(keys[w]), std::end(keys[w]), std::begin(states_[w]));
        chacha12::blocks(states_, blocks_, count);
    }
    KeyedLosses& for_trial(int lane) {
        if (needed_) losses_.start(chacha12::key_of_lane(states_, lane), blocks_ + lane * chacha12::kBlockWords);
        return losses_;
    }
    LossesBySeed& batch() { return *this; }

private:
    bool needed_;
    alignas(64) chacha12::LaneStates states_;
    alignas(64) std::uint32_t blocks_[chacha12::kLanes * chacha12::kBlockWords];
    KeyedLosses losses_;
};

// How a first cycle without a failed attempt ends, with every pair arrived at a swapping route or not:
// the outcome when the request ends there, else the state the next cycle starts from. Every trial
// whose first cycle succeeds ends it one of these two ways.
class FirstCycleEnds {
public:
    FirstCycleEnds(const CyclePlan& plan, const CycleBounds& bounds) {
        for (bool swapped : {false, true}) {
            CycleState& state = states_[swapped];
            state = plan.start();
            state.cycles = 1;
            outcomes_[swapped] = complete_cycle(plan, bounds, state, swapped);
        }
    }
    const std::optional<CycleOutcome>& outcome(bool swapped) const { return outcomes_[swapped]; }
    const CycleState& next_state(bool swapped) const { return states_[swapped]; }

private:
    std::optional<CycleOutcome> outcomes_[2];
    CycleState states_[2];
};

// The tails of the trials that fail in their first cycle, all alike: counted sixteen trials at a time
// in the kernel's registers where the route allows it, else with the others.
class FirstCycleTails {
public:
    FirstCycleTails(const CyclePlan& plan, const CycleBounds& bounds, TailCounter& others, InterruptionPoll& poll)
        : plan_(plan), bounds_(bounds), others_(others), poll_(poll) {}

    // A trial whose first cycle, in `block`, had `failed` failed attempts: its outcome.
    CycleOutcome add(const chacha12::KeyWords& key, const std::uint32_t* block, unsigned failed) {
        const CycleTail& tail = bounds_.tail_after_first_cycle(poll_);
        const auto hops = static_cast<std::uint32_t>(plan_.hops());
        if (alike()) {
            failed += plan_.thresholds.failures_in_block(block, 0, alike_->first_in_hand(), alike_->end_in_hand());
            alike_->add(key);
        } else {
            others_.add(key, hops, tail.cycles, block);
        }
        return {false, tail.clock_ms, 0.0, failed, 1 + tail.cycles};
    }

    // The trials of `lanes` failed in their first cycle; `above` tells which draws of their first blocks
    // failed (with the bounds of phase 0). Their first cycles' failures are the caller's; their tails'
    // are counted here. Gives the outcome of each, without its failures. Needs a route whose draws are
    // counted in the kernel.
    CycleOutcome add(const chacha12::LaneStates& keys, std::uint32_t lanes, const chacha12::LaneMasks& above) {
        const CycleTail& tail = bounds_.tail_after_first_cycle(poll_);
        alike();
        const unsigned first = alike_->first_in_hand(), end = alike_->end_in_hand();
        in_hand_ += chacha12::count_at_or_above(above, lanes, ((1u << end) - 1) & ~((1u << first) - 1));
        alike_->add(keys, lanes);
        return {false, tail.clock_ms, 0.0, 0, 1 + tail.cycles};
    }

    std::uint64_t flush() {
        if (!alike_) return in_hand_;
        alike_->flush();
        return in_hand_ + alike_->failures();
    }

private:
    // Whether the tails are counted alike; they start once the tail after a first cycle is known.
    bool alike() {
        if (!plan_.thresholds.counts_in_kernel()) return false;
        if (!alike_)
            alike_.emplace(plan_.thresholds, poll_, plan_.hops(), bounds_.tail_after_first_cycle(poll_).cycles);
        return true;
    }

    const CyclePlan& plan_;
    const CycleBounds& bounds_;
    TailCounter& others_;
    InterruptionPoll& poll_;
    std::optional<AlikeTails> alike_;
    std::uint64_t in_hand_ = 0;
};

// The trial model of the engine's ensembles: the timeline of one request per trial. A batch's first
// blocks (which every trial with a hop needs, and most need alone) and any first loss blocks are
// computed together, and the failed trials' tails are counted together.
template <class Sum, class LossSource>
class Trials {
public:
    static constexpr SeedStream kDraws = kGenerationDraws;

    Trials(Totals<Sum>& totals, const CyclePlan& plan, const CycleBounds& bounds, InterruptionPoll& poll)
        : totals_(totals),
          plan_(plan),
          bounds_(bounds),
          poll_(poll),
          hops_(static_cast<std::uint32_t>(plan.hops())),
          first_cycle_ends_(plan, bounds),
          losses_(plan),
          tails_(plan.thresholds, poll),
          first_cycle_tails_(plan, bounds, tails_, poll) {
        // The first cycle of a route of up to eight hops draws from the first block only, so it is
        // decided from that block directly.
        first_cycle_in_block_ = hops_ > 0 && hops_ <= KeyedStream::kDrawsPerBlock;
        // Where every trial ends in its first cycle (the usual case), a batch is decided stage by stage.
        decided_in_first_cycle_ = first_cycle_in_block_ && plan.thresholds.counts_in_kernel() &&
                                  first_cycle_ends_.outcome(false) && first_cycle_ends_.outcome(true);
        if (decided_in_first_cycle_) plan.thresholds.alike_bounds(0, first_bounds_);
    }

    void run_batch(const chacha12::LaneStates& lanes, int batch) {
        losses_.start_batch(lanes, batch);
        if (decided_in_first_cycle_) return run_decided_batch(lanes, batch);
        if (hops_ > 0) chacha12::blocks(lanes, blocks_, batch);  // a route without hops draws nothing
        for (int k = 0; k < batch; ++k) totals_.add(run_trial(lanes, k));
    }

    // The failures that the batches left to be counted together.
    void finish() {
        tails_.flush();
        totals_.congestion_drops += tails_.failures() + first_cycle_tails_.flush();
    }

private:
    const std::uint32_t* block(int lane) const { return blocks_ + lane * chacha12::kBlockWords; }

    CycleOutcome run_trial(const chacha12::LaneStates& lanes, int k) {
        auto& losses = losses_.for_trial(k);
        PairCount pairs;
        if (!first_cycle_in_block_) {
            draws_.start(chacha12::key_of_lane(lanes, k), kDraws.stream, block(k));
            return run_cycles(plan_, bounds_, draws_, losses, poll_, pairs, tails_, plan_.start());
        }
        poll_.advance(hops_ + 1);
        unsigned failed;
        plan_.thresholds.first_cycle_failures(block(k), 1, &failed);
        if (failed > 0) return first_cycle_tails_.add(chacha12::key_of_lane(lanes, k), block(k), failed);
        const bool swapped = plan_.swaps && pairs.deliver(0.0, hops_, &losses) == hops_;
        if (const auto& outcome = first_cycle_ends_.outcome(swapped)) return *outcome;
        draws_.start(chacha12::key_of_lane(lanes, k), kDraws.stream, block(k), hops_);
        return run_cycles(plan_, bounds_, draws_, losses, poll_, pairs, tails_, first_cycle_ends_.next_state(swapped));
    }

    // The same decisions for a batch whose trials all end in their first cycle, taken stage by stage
    // so that no stage waits on an unpredictable branch of another: which first cycles failed (from the
    // kernel's registers, without writing the blocks out), the tails of those, the losses of the others
    // (in trial order, as the trials would draw them), and the sums in trial order.
    void run_decided_batch(const chacha12::LaneStates& lanes, int batch) {
        const std::uint32_t batch_lanes = (1u << batch) - 1, first_cycle = (1u << hops_) - 1;
        chacha12::LaneMasks above;
        chacha12::draws_at_or_above(lanes, first_bounds_, above);
        std::uint32_t failed_lanes = 0;
        for (std::uint32_t i = 0; i < hops_; ++i) failed_lanes |= above[i];
        failed_lanes &= batch_lanes;
        totals_.congestion_drops += chacha12::count_at_or_above(above, batch_lanes, first_cycle);
        poll_.advance(static_cast<std::uint64_t>(batch) * (hops_ + 1));
        if (failed_lanes) failed_ = first_cycle_tails_.add(lanes, failed_lanes, above);
        const CycleOutcome* outcomes[chacha12::kLanes];
        for (std::uint32_t lanes = failed_lanes; lanes != 0; lanes &= lanes - 1)
            outcomes[std::countr_zero(lanes)] = &failed_;
        const CycleOutcome* const ends[2] = {&*first_cycle_ends_.outcome(false), &*first_cycle_ends_.outcome(true)};
        {
            auto&& losses = losses_.batch();
            for (std::uint32_t lanes = batch_lanes & ~failed_lanes; lanes != 0; lanes &= lanes - 1) {
                const int k = std::countr_zero(lanes);
                PairCount pairs;
                const bool swapped = plan_.swaps && pairs.deliver(0.0, hops_, &losses.for_trial(k)) == hops_;
                outcomes[k] = ends[swapped];
            }
        }
        totals_.add(outcomes, batch);
    }

    Totals<Sum>& totals_;
    const CyclePlan& plan_;
    const CycleBounds& bounds_;
    InterruptionPoll& poll_;
    const std::uint32_t hops_;
    bool first_cycle_in_block_ = false;
    bool decided_in_first_cycle_ = false;
    const FirstCycleEnds first_cycle_ends_;
    LossSource losses_;
    TailCounter tails_;
    FirstCycleTails first_cycle_tails_;
    alignas(64) std::uint32_t blocks_[chacha12::kLanes * chacha12::kBlockWords];
    KeyedStream draws_;
    chacha12::DrawBounds first_bounds_;  // of a first block, when batches are decided
    CycleOutcome failed_;                // of a trial that failed in its first cycle, its failures aside
};

template <class Sum>
MonteCarloStats statistics(const Totals<Sum>& totals, std::uint64_t runs, const std::vector<std::string>& path) {
    MonteCarloStats stats;
    stats.total_runs = runs;
    stats.empirical_success_rate = static_cast<double>(totals.successes) / static_cast<double>(runs);
    stats.mean_latency_ms = totals.latency_ms.total() / static_cast<double>(runs);
    stats.mean_fidelity = totals.successes > 0 ? totals.fidelity.total() / static_cast<double>(totals.successes) : 0.0;
    stats.aggregate_congestion_drops = totals.congestion_drops;
    add_path_counts(stats.link_utilization_heatmap, path, totals.cycles);
    return stats;
}

// Route finding is deterministic, so the admission (and with it the route and every hop's figures)
// is worked out once instead of once per trial.
template <class LossSource, class Sum>
MonteCarloStats run_ensemble(Totals<Sum>& totals, const QuantumNetwork& network, const SimulationConfig& config,
                             const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                             Interruption* interruption) {
    // No trial, no route to find: the statistics of no trials (a route would add nothing to them).
    if (runs == 0) return statistics(totals, 0, {});
    const TimelineSettings settings = TimelineSettings::from_config(config);
    const Admission admission = admit(network, request, settings, interruption);
    InterruptionPoll poll(interruption, kWorkPerClockCheck);
    if (admission.refusal) {
        add_refusals(totals, *admission.refusal, runs, poll);
    } else {
        const CyclePlan plan(admission, request.fidelity_target, settings);
        const CycleBounds bounds(request.max_latency_ms, settings.total_time_cutoff_ms);
        Trials<Sum, LossSource> trials(totals, plan, bounds, poll);
        run_seed_range(trials, seed, runs);
        trials.finish();
    }
    return statistics(totals, runs, admission.path);
}

}  // namespace

MonteCarloStats execute_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                 Interruption* interruption) {
    Totals<RunningSum> totals;
    return run_ensemble<ThreadLosses>(totals, network, config, request, runs, seed, interruption);
}

KeyedEnsemble execute_keyed_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                     const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                     Interruption* interruption) {
    Totals<ExactSum> totals;
    KeyedEnsemble ensemble;
    ensemble.stats = run_ensemble<LossesBySeed>(totals, network, config, request, runs, seed, interruption);
    ensemble.successes = totals.successes;
    ensemble.latency_ms = std::move(totals.latency_ms);
    ensemble.fidelity = std::move(totals.fidelity);
    return ensemble;
}

}  // namespace vorn
