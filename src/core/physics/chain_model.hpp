// The chain trial model: along a chain of links, every link attempts heralded generation until it holds
// a pair (distilled, when asked, by recurrence rounds); a node that holds both of its pairs swaps them;
// each swap's outcome travels to both ends at the signal speed, and a trial ends when both ends know
// that a pair joins them. Pairs are Bell-diagonal and decay in memory from the moment they are emitted.
//
// The rules of one instant, the same whichever end the chain starts from:
//   1. news that reaches a node frees what it reports lost (a node never swaps a qubit it knows lost);
//   2. every pair heralded at this instant arrives;
//   3. every node that then holds both of its pairs swaps, all at once, each swap succeeding
//      independently with probability q;
//   4. memories whose qubits reached the cut-off free them (a qubit exactly as old as the cut-off may
//      still be swapped in step 3).
// A failed swap or a freed qubit loses the whole joined run around it, including every run that a node
// joins to it before the news reaches that node. The news leaves the node where the loss happened and
// travels along the chain at the signal speed; each link of the lost run attempts again once both of
// its nodes have heard it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/interruption_poll.hpp"
#include "core/physics/bell_diagonal.hpp"
#include "core/physics/earliest_times.hpp"
#include "core/physics/model.hpp"

namespace vorn::physics {

struct ChainLink {
    double success_probability = 1.0;  // of one attempt in one mode, in (0, 1]
    double distance_km = 0.0;
    double source_period_ms = 0.0;  // the source's period, 1000 / generation rate
    double fidelity = 1.0;          // of a fresh pair, a Werner state
};

struct ChainFigures {
    std::vector<ChainLink> links;  // link k joins node k and node k + 1
    // Per node, the rate at which a stored qubit decays: 1 / T2 with T2 in ms; 0 for an endless
    // memory, +inf for none.
    std::vector<double> decay_per_ms;
};

// The figures of a route's chain (at least one hop).
ChainFigures figures_of(const Chain& chain);

struct ChainOutcome {
    bool delivered = false;
    double waiting_time_ms = 0.0;  // when both ends knew of the pair, or when the trial gave up
    double fidelity = 0.0;         // of the delivered pair, and its error rates
    double error_rate_z = 0.0;     // an X or Y error: the bit flips seen when both ends measure Z
    double error_rate_x = 0.0;     // a Z or Y error
};

// A qubit held `duration` at `rate` decays by this much in the exponent; nothing in no time, even
// in a memory that keeps nothing.
inline double decay_exponent(double duration, double rate) { return duration > 0.0 ? duration * rate : 0.0; }

class ChainModel {
public:
    enum class Course {
        Shortest,  // skip the events where they decide nothing: when no swap fails and no qubit expires
        Events,    // follow every event (for comparisons)
    };

    // `model` must have passed check_model; the chain needs at least one link, its figures in range.
    ChainModel(const ChainFigures& chain, const PhysicalModel& model, Course course = Course::Shortest);

    std::size_t links() const { return links_; }
    double attempt_ms(std::size_t link) const { return attempt_ms_[link]; }

    // One trial. `Stream` gives uniforms in (0, 1] by next_open_closed(); `poll` advances once per event.
    template <class Stream>
    ChainOutcome run(Stream& stream, InterruptionPoll& poll);

private:
    struct Extent {  // the links of a lost run
        std::int32_t first;
        std::int32_t last;
    };
    struct Waiting {  // a pair of a link waiting for its distillation partner
        double since;
        Correlations pair;
    };

    // A stream whose uniforms are kept, and one that gives the kept ones again before its own.
    template <class Stream>
    struct Recorded {
        Stream& stream;
        std::vector<double>& drawn;
        double next_open_closed() { return drawn.emplace_back(stream.next_open_closed()); }
    };
    template <class Stream>
    struct Replayed {
        Stream& stream;
        const std::vector<double>& drawn;
        std::size_t next = 0;
        double next_open_closed() { return next < drawn.size() ? drawn[next++] : stream.next_open_closed(); }
    };

    template <class Stream>
    void draw_without_failures(Stream& stream, InterruptionPoll& poll);
    template <class Stream>
    bool swaps_succeed(Stream& stream);
    template <class Stream>
    ChainOutcome run_events(Stream& stream, InterruptionPoll& poll);
    template <class Stream>
    double draw_attempts(std::size_t link, Stream& stream) const;
    // How long after it starts attempting a link holds its next pair; the pair goes to pending_.
    template <class Stream>
    double draw_pair(std::size_t link, Stream& stream, InterruptionPoll& poll);
    template <class Stream>
    void start(Stream& stream, InterruptionPoll& poll);
    // News sent from `node` at `sent` reaches links [first, last] of lost run `from` (−1: of the live
    // run there, which is lost now), which become part of lost run `into`.
    template <class Stream>
    void spread(std::int32_t from, std::int32_t into, std::size_t first, std::size_t last, std::size_t node,
                double sent, Stream& stream, InterruptionPoll& poll);
    // The live run of links [first, last] is lost at `node`, now.
    template <class Stream>
    void lose(std::size_t first, std::size_t last, std::size_t node, double now, Stream& stream,
              InterruptionPoll& poll);
    template <class Stream>
    void spread_within(std::int32_t lost, std::size_t node, double sent, Stream& stream, InterruptionPoll& poll) {
        spread(lost, lost, lost_runs_[lost].first, lost_runs_[lost].last, node, sent, stream, poll);
    }
    template <class Stream>
    void swap(std::size_t node, bool succeeded, double now, Stream& stream, InterruptionPoll& poll);
    template <class Stream>
    void expire(std::size_t link, double now, Stream& stream, InterruptionPoll& poll);

    void arrive(std::size_t link, double now) {
        ready_ms_[link] = now;
        if (rounds_ > 0) pair_[link] = pending_[link];
        lost_with_[link] = -1;
        other_end_[link] = static_cast<std::int32_t>(link);
        held_right_[link] = held_left_[link + 1] = 1;
        if (cutoff_ms_ != EarliestTimes::kNever) expiries_.set(link, now + cutoff_ms_);
    }
    // Whether a node still holds its qubit of `link`'s pair, whose loss it hears at `learn`.
    bool holds(char& held, std::size_t link, double learn, double now) {
        if (held && lost_with_[link] >= 0 && learn <= now) held = 0;
        return held;
    }
    bool holds_both(std::size_t node, double now) {
        return holds(held_left_[node], node - 1, learn_right_ms_[node - 1], now) &&
               holds(held_right_[node], node, learn_left_ms_[node], now);
    }
    double distance_ms(std::size_t a, std::size_t b) const { return std::abs(from_start_ms_[a] - from_start_ms_[b]); }
    // When the first and the last node know every swap outcome of the end-to-end pair.
    struct Known {
        double at_start;
        double at_end;
    };
    Known known_ms() const;
    // Delivered when both ends know, or given up at the limit.
    ChainOutcome settled(Known known) const;
    void renumber_lost_runs();

    std::size_t links_;
    double swap_success_;
    bool swaps_draw_;
    double cutoff_ms_;  // +inf without a cut-off
    double limit_ms_;   // +inf without a limit
    MemoryNoise noise_;
    std::int64_t rounds_;
    Distillation protocol_;
    bool follow_events_;
    // Draw the first pairs and the swaps' outcomes as if nothing failed, and follow the events (with
    // the same draws) only when something did: when most trials see no failure.
    bool speculate_;
    // The cut-off leaves no way to deliver: an end's qubit expires before the news of the swap next to
    // it can come, or a distillation partner can never come in time.
    bool never_ = false;
    Correlations swap_noise_;     // of all n − 1 swaps together
    Correlations fresh_product_;  // of the fresh pairs of every link, without distillation

    // Per link.
    std::vector<double> attempt_ms_;
    std::vector<double> log_failure_;  // ln of the chance that a slot fails in every mode
    std::vector<double> all_fail_;     // that chance
    std::vector<double> round_ms_;     // the classical delay of a distillation round, L / c
    std::vector<double> pair_decay_;   // decay rate of a pair stored at both of its nodes
    std::vector<Correlations> fresh_;  // a pair as heralded, its flight's decay included
    // Per node.
    std::vector<double> decay_per_ms_;
    std::vector<double> from_start_ms_;  // signal time to the chain's first node
    std::vector<double> to_end_ms_;      // and to its last

    // Working state of a trial. Per link:
    EarliestTimes arrivals_;               // of the pair each link attempts for
    EarliestTimes expiries_;               // of the qubits of the pair each link holds (with a cut-off)
    std::vector<double> ready_ms_;         // when the pair a link holds arrived
    std::vector<double> delta_ms_;         // from restart to arrival of the pair it attempts for
    std::vector<Correlations> pending_;    // the state of that pair (with distillation)
    std::vector<Correlations> pair_;       // of the pair it holds (with distillation)
    std::vector<std::int32_t> other_end_;  // at either end of a live run: the link at its other end
    std::vector<std::int32_t> lost_with_;  // the lost run whose news it awaits, or −1
    std::vector<double> learn_left_ms_;    // when its nodes hear of that loss
    std::vector<double> learn_right_ms_;
    // Per node: whether it holds its qubit of the pair on its left and on its right (not yet swapped
    // nor freed), and when it last swapped.
    std::vector<char> held_left_;
    std::vector<char> held_right_;
    std::vector<double> swap_ms_;
    std::vector<Extent> lost_runs_;
    std::vector<std::int32_t> renumbered_;
    std::vector<std::uint32_t> swapping_;
    std::vector<char> succeeded_;
    std::vector<Waiting> waiting_;  // per distillation level
    std::vector<double> drawn_;
};

template <class Stream>
double ChainModel::draw_attempts(std::size_t link, Stream& stream) const {
    // The number of slots up to and including the first success is geometric: one uniform u in
    // (0, 1] gives 1 + floor(ln u / ln(1 − P)) (1 at once when u > 1 − P). A quotient, not a product
    // with 1 / ln(1 − P), which overflows for the smallest P; a count that overflows gives a pair
    // that never comes.
    const double u = stream.next_open_closed();
    if (u > all_fail_[link]) return 1.0;
    const double failures = std::log(u) / log_failure_[link];
    return 1.0 + (failures < 0x1p52 ? static_cast<double>(static_cast<std::int64_t>(failures)) : failures);
}

// Recurrence distillation on one link, `rounds_` deep: a pair of level l waits for a second one; the
// two make one pair of level l + 1 with the round's success probability, known at both ends L / c
// later, or are both lost. A link attempts again once its last round's outcome is known, so each end
// holds at most one pair per level below the top and one more.
template <class Stream>
double ChainModel::draw_pair(std::size_t link, Stream& stream, InterruptionPoll& poll) {
    if (rounds_ == 0) return draw_attempts(link, stream) * attempt_ms_[link];
    std::uint32_t occupied = 0;  // bit l: a pair waits at level l
    double clock = 0.0;
    for (;;) {
        poll.advance();
        double at = clock + draw_attempts(link, stream) * attempt_ms_[link];
        Correlations pair = fresh_[link];
        for (std::int64_t level = 0;; ++level) {
            if (level == rounds_) {
                pending_[link] = pair;
                return at;
            }
            Waiting& partner = waiting_[level];
            const std::uint32_t bit = std::uint32_t{1} << level;
            if (!(occupied & bit) || at - partner.since > cutoff_ms_) {
                partner = {at, pair};
                occupied |= bit;
                clock = at;
                break;
            }
            occupied &= ~bit;
            const Correlations older =
                decayed(partner.pair, decay_exponent(at - partner.since, pair_decay_[link]), noise_);
            const DistilledPair round = distilled(bell_diagonal_of(older), bell_diagonal_of(pair), protocol_);
            at += round_ms_[link];
            if (!(stream.next_open_closed() <= round.success_probability)) {
                clock = at;
                break;
            }
            pair = decayed(correlations_of(round.pair), decay_exponent(round_ms_[link], pair_decay_[link]), noise_);
        }
    }
}

template <class Stream>
void ChainModel::start(Stream& stream, InterruptionPoll& poll) {
    lost_runs_.clear();
    std::fill(lost_with_.begin(), lost_with_.end(), -1);
    std::fill(held_left_.begin(), held_left_.end(), 0);
    std::fill(held_right_.begin(), held_right_.end(), 0);
    if (cutoff_ms_ != EarliestTimes::kNever) expiries_.clear();
    for (std::size_t link = 0; link < links_; ++link) {
        delta_ms_[link] = draw_pair(link, stream, poll);
        arrivals_.set_only(link, delta_ms_[link]);
    }
    arrivals_.refresh(0, links_ - 1);
}

// The loss spreads from `node` as a light cone: a link's node hears of it at sent + distance / c (or
// earlier, from another loss of the same run). A link lost for the first time draws its next attempts;
// a later loss can only bring its restart forward.
template <class Stream>
void ChainModel::spread(std::int32_t from, std::int32_t into, std::size_t first, std::size_t last, std::size_t node,
                        double sent, Stream& stream, InterruptionPoll& poll) {
    for (std::size_t link = first; link <= last; ++link) {
        if (from < 0) {
            learn_left_ms_[link] = learn_right_ms_[link] = EarliestTimes::kNever;
            delta_ms_[link] = draw_pair(link, stream, poll);
        } else if (lost_with_[link] != from) {
            continue;  // it has attempted again since, and holds another pair or attempts for one
        }
        lost_with_[link] = into;
        learn_left_ms_[link] = std::min(learn_left_ms_[link], sent + distance_ms(node, link));
        learn_right_ms_[link] = std::min(learn_right_ms_[link], sent + distance_ms(node, link + 1));
        arrivals_.set_only(link, std::max(learn_left_ms_[link], learn_right_ms_[link]) + delta_ms_[link]);
    }
    arrivals_.refresh(first, last);
}

template <class Stream>
void ChainModel::lose(std::size_t first, std::size_t last, std::size_t node, double now, Stream& stream,
                      InterruptionPoll& poll) {
    if (lost_runs_.size() >= 2 * links_ + 32) renumber_lost_runs();
    const auto lost = static_cast<std::int32_t>(lost_runs_.size());
    lost_runs_.push_back({static_cast<std::int32_t>(first), static_cast<std::int32_t>(last)});
    spread(-1, lost, first, last, node, now, stream, poll);
}

// A node that swaps a run it does not yet know lost passes the loss on: the news reaches the node when
// it hears it and goes on into the other side.
template <class Stream>
void ChainModel::swap(std::size_t node, bool succeeded, double now, Stream& stream, InterruptionPoll& poll) {
    const std::size_t left = node - 1, right = node;
    held_left_[node] = held_right_[node] = 0;
    swap_ms_[node] = now;
    const std::int32_t left_lost = lost_with_[left], right_lost = lost_with_[right];
    if (left_lost < 0 && right_lost < 0) {
        const std::size_t first = other_end_[left], last = other_end_[right];
        other_end_[first] = static_cast<std::int32_t>(last);
        other_end_[last] = static_cast<std::int32_t>(first);
        if (!succeeded) lose(first, last, node, now, stream, poll);
        return;
    }
    const double left_heard = learn_right_ms_[left], right_heard = learn_left_ms_[right];
    const std::int32_t lost = left_lost >= 0 ? left_lost : right_lost;
    if (left_lost >= 0 && right_lost >= 0) {
        spread_within(left_lost, node, right_heard, stream, poll);
        spread(right_lost, left_lost, lost_runs_[right_lost].first, lost_runs_[right_lost].last, node, left_heard,
               stream, poll);
        lost_runs_[left_lost].last = lost_runs_[right_lost].last;
    } else if (left_lost >= 0) {
        spread(-1, left_lost, right, other_end_[right], node, left_heard, stream, poll);
        lost_runs_[left_lost].last = other_end_[right];
    } else {
        spread(-1, right_lost, other_end_[left], left, node, right_heard, stream, poll);
        lost_runs_[right_lost].first = other_end_[left];
    }
    if (!succeeded) spread_within(lost, node, now, stream, poll);
}

template <class Stream>
void ChainModel::expire(std::size_t link, double now, Stream& stream, InterruptionPoll& poll) {
    for (std::size_t node : {link, link + 1}) {
        char& held = node == link ? held_right_[link] : held_left_[link + 1];
        if (!holds(held, link, node == link ? learn_left_ms_[link] : learn_right_ms_[link], now)) continue;
        const std::int32_t lost = lost_with_[link];
        if (lost >= 0) {
            held = 0;
            spread_within(lost, node, now, stream, poll);
            continue;
        }
        const std::size_t first = std::min<std::size_t>(link, other_end_[link]);
        const std::size_t last = std::max<std::size_t>(link, other_end_[link]);
        // An end node keeps the qubit of a pair it already knows complete.
        if ((node == 0 || node == links_) && first == 0 && last + 1 == links_ &&
            (node == 0 ? known_ms().at_start : known_ms().at_end) <= now)
            continue;
        held = 0;
        lose(first, last, node, now, stream, poll);
    }
}

template <class Stream>
ChainOutcome ChainModel::run(Stream& stream, InterruptionPoll& poll) {
    if (never_) return {false, limit_ms_};
    drawn_.clear();
    if (!follow_events_) {
        draw_without_failures(stream, poll);
        return settled(known_ms());
    }
    if (speculate_) {
        Recorded<Stream> recorded{stream, drawn_};
        draw_without_failures(recorded, poll);
        if (swaps_succeed(recorded)) return settled(known_ms());
    }
    Replayed<Stream> replayed{stream, drawn_};
    return run_events(replayed, poll);
}

// Every link's first pair and the swaps they lead to, as they are when no swap fails and no qubit
// expires: a node swaps when the later of its pairs arrives.
template <class Stream>
void ChainModel::draw_without_failures(Stream& stream, InterruptionPoll& poll) {
    for (std::size_t link = 0; link < links_; ++link) {
        ready_ms_[link] = draw_pair(link, stream, poll);
        if (rounds_ > 0) pair_[link] = pending_[link];
    }
    for (std::size_t node = 1; node < links_; ++node) swap_ms_[node] = std::max(ready_ms_[node - 1], ready_ms_[node]);
    poll.advance(links_);
}

// The swaps' outcomes drawn in the order in which the events draw them (by time, then by node), up to
// the first failure.
template <class Stream>
bool ChainModel::swaps_succeed(Stream& stream) {
    swapping_.clear();
    for (std::size_t node = 1; node < links_; ++node) swapping_.push_back(static_cast<std::uint32_t>(node));
    std::sort(swapping_.begin(), swapping_.end(), [&](std::uint32_t a, std::uint32_t b) {
        return swap_ms_[a] < swap_ms_[b] || (swap_ms_[a] == swap_ms_[b] && a < b);
    });
    for (std::size_t k = 0; k < swapping_.size(); ++k)
        if (!(stream.next_open_closed() <= swap_success_)) return false;
    return true;
}

template <class Stream>
ChainOutcome ChainModel::run_events(Stream& stream, InterruptionPoll& poll) {
    start(stream, poll);
    for (;;) {
        poll.advance();
        double now = arrivals_.earliest_time();
        if (cutoff_ms_ != EarliestTimes::kNever) now = std::min(now, expiries_.earliest_time());
        if (now > limit_ms_) return {false, limit_ms_};
        if (now == EarliestTimes::kNever) return {false, now};
        bool arrived = false;
        swapping_.clear();
        while (arrivals_.earliest_time() == now) {  // in increasing link order
            const std::size_t link = arrivals_.earliest();
            arrivals_.set(link, EarliestTimes::kNever);
            arrive(link, now);
            arrived = true;
            for (std::size_t node : {link, link + 1})
                if (node > 0 && node < links_ && (swapping_.empty() || swapping_.back() != node) &&
                    holds_both(node, now))
                    swapping_.push_back(static_cast<std::uint32_t>(node));
        }
        succeeded_.clear();
        for (std::size_t k = 0; k < swapping_.size(); ++k)
            succeeded_.push_back(!swaps_draw_ || stream.next_open_closed() <= swap_success_);
        for (std::size_t k = 0; k < swapping_.size(); ++k) swap(swapping_[k], succeeded_[k], now, stream, poll);
        if (arrived && held_right_[0] && lost_with_[0] < 0 && other_end_[0] + 1 == static_cast<std::int32_t>(links_)) {
            const Known known = known_ms();
            if (known.at_start <= ready_ms_[0] + cutoff_ms_ && known.at_end <= ready_ms_[links_ - 1] + cutoff_ms_)
                return settled(known);
        }
        if (cutoff_ms_ != EarliestTimes::kNever) {
            while (expiries_.earliest_time() == now) {
                const std::size_t link = expiries_.earliest();
                expiries_.set(link, EarliestTimes::kNever);
                expire(link, now, stream, poll);
            }
        }
    }
}

}  // namespace vorn::physics
