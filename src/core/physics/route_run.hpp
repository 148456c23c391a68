// The rules by which the pairs of a route's links become one end-to-end pair, whoever supplies the
// links' pairs: the chain model (each link attempting for its chain alone) and the network model (links
// shared by the requests of many routes).
//
// The rules of one instant, the same whichever end the route starts from:
//   1. news that reaches a node frees what it reports lost (a node never swaps a qubit it knows lost);
//   2. every pair heralded at this instant arrives;
//   3. every node that then holds both of its pairs swaps, all at once, each swap succeeding
//      independently with probability q;
//   4. memories whose qubits reached the cut-off free them (a qubit exactly as old as the cut-off may
//      still be swapped in step 3).
// A failed swap or a freed qubit loses the whole joined run around it, including every run that a node
// joins to it before the news reaches that node. The news leaves the node where the loss happened and
// travels along the route at the signal speed; each link of the lost run may attempt again once both
// of its nodes have heard it. Each swap's outcome travels to both ends at the signal speed, and the
// end-to-end pair is delivered when both ends know every outcome.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/physics/bell_diagonal.hpp"
#include "core/physics/earliest_times.hpp"
#include "core/physics/link_generation.hpp"

namespace vorn::physics {

// What a route is to the rules, whichever pairs come along it.
struct RouteShape {
    // `links` are the route's links in order (their numbers in `generation`), link k joining route node
    // k and node k + 1; `distances_km` their lengths; `decay_per_ms` the route's nodes' decay rates.
    RouteShape(const LinkGeneration& generation, std::span<const std::uint32_t> links,
               std::span<const double> distances_km, std::span<const double> decay_per_ms, double signal_speed_km_ms,
               double swap_success, const Correlations& one_swap_noise, double cutoff_ms, double limit_ms,
               MemoryNoise noise);

    std::size_t links;
    double swap_success;
    bool swaps_draw;
    double cutoff_ms;  // +inf without a cut-off
    double limit_ms;   // +inf without a limit
    MemoryNoise noise;
    bool distilled;
    Correlations swap_noise;     // of all n − 1 swaps together
    Correlations fresh_product;  // of the fresh pairs of every link, without distillation
    std::vector<double> decay_per_ms;
    std::vector<double> from_start_ms;  // signal time to the route's first node
    std::vector<double> to_end_ms;      // and to its last
};

// Why the pairs of a lost run were lost.
enum class Loss { Swap, Cutoff };

// The state of one end-to-end pair in the making. A supplier of pairs is told through
//   supply.lost(link, Loss)      a link's pair is lost (the first time its run is lost);
//   supply.restart(link, time)   the link may attempt again from `time` (told again with an earlier
//                                time when another loss's news comes sooner);
//   supply.restarted(first, last) after restarts of links first..last;
//   supply.swapped(node)         the route's node `node` swapped its two qubits, which frees them.
class RouteRun {
public:
    struct Known {  // when the first and the last node know every swap outcome of the end-to-end pair
        double at_start;
        double at_end;
    };

    explicit RouteRun(const RouteShape& shape) { reshape(shape); }
    void reshape(const RouteShape& shape);
    const RouteShape& shape() const { return *shape_; }

    // No pair held, nothing lost.
    void reset() {
        lost_runs_.clear();
        std::fill(lost_with_.begin(), lost_with_.end(), -1);
        std::fill(held_left_.begin(), held_left_.end(), 0);
        std::fill(held_right_.begin(), held_right_.end(), 0);
        if (shape_->cutoff_ms != EarliestTimes::kNever) expiries_.clear();
    }

    // Link `link`'s pair arrives now; with distillation, its state is `pair`.
    void arrive(std::size_t link, double now, const Correlations& pair) {
        ready_ms_[link] = now;
        if (shape_->distilled) pair_[link] = pair;
        lost_with_[link] = -1;
        other_end_[link] = static_cast<std::int32_t>(link);
        held_right_[link] = held_left_[link + 1] = 1;
        if (shape_->cutoff_ms != EarliestTimes::kNever) expiries_.set(link, now + shape_->cutoff_ms);
    }
    // After link `link`'s pair arrived now: its nodes that hold both of their pairs will swap. Call in
    // increasing link order within an instant.
    void note_arrival(std::size_t link, double now) {
        for (std::size_t node : {link, link + 1})
            if (node > 0 && node < links_ && (swapping_.empty() || swapping_.back() != node) && holds_both(node, now))
                swapping_.push_back(static_cast<std::uint32_t>(node));
    }
    // The noted nodes swap, all at once: outcomes drawn in node order, then applied.
    template <class Stream, class Supply>
    void swap_noted(double now, Stream& stream, Supply& supply);
    // Every qubit that reaches the cut-off now is freed.
    template <class Supply>
    void expire_due(double now, Supply& supply) {
        if (shape_->cutoff_ms == EarliestTimes::kNever) return;
        while (expiries_.earliest_time() == now) {
            const std::size_t link = expiries_.earliest();
            expiries_.set(link, EarliestTimes::kNever);
            expire(link, now, supply);
        }
    }
    double next_expiry() const { return expiries_.earliest_time(); }
    void clear_expiries() {
        if (shape_->cutoff_ms != EarliestTimes::kNever) expiries_.clear();
    }

    // Whether one live run joins the two ends, the first end still holding its qubit.
    bool complete() const {
        return held_right_[0] && lost_with_[0] < 0 && other_end_[0] + 1 == static_cast<std::int32_t>(links_);
    }
    Known known_ms() const;
    // Whether both ends know the complete pair before their qubits reach the cut-off.
    bool in_time(Known known) const {
        return known.at_start <= ready_ms_[0] + shape_->cutoff_ms &&
               known.at_end <= ready_ms_[links_ - 1] + shape_->cutoff_ms;
    }
    // The end-to-end pair when both ends know (or given up at the limit): delivered, when, its state.
    struct Settled {
        bool delivered;
        double at;
        Correlations pair;
    };
    Settled settled(Known known) const;

    // For suppliers that skip the events when nothing fails: the arrival times, pair states and swap
    // times to settle with.
    double& ready_ms(std::size_t link) { return ready_ms_[link]; }
    Correlations& pair(std::size_t link) { return pair_[link]; }
    double& swap_ms(std::size_t node) { return swap_ms_[node]; }

private:
    struct Extent {  // the links of a lost run
        std::int32_t first;
        std::int32_t last;
        Loss cause;
    };

    // Whether a node still holds its qubit of `link`'s pair, whose loss it hears at `learn`.
    bool holds(char& held, std::size_t link, double learn, double now) {
        if (held && lost_with_[link] >= 0 && learn <= now) held = 0;
        return held;
    }
    bool holds_both(std::size_t node, double now) {
        return holds(held_left_[node], node - 1, learn_right_ms_[node - 1], now) &&
               holds(held_right_[node], node, learn_left_ms_[node], now);
    }
    double distance_ms(std::size_t a, std::size_t b) const {
        return std::abs(shape_->from_start_ms[a] - shape_->from_start_ms[b]);
    }
    // News sent from `node` at `sent` reaches links [first, last] of lost run `from` (−1: of the live
    // run there, which is lost now), which become part of lost run `into`.
    template <class Supply>
    void spread(std::int32_t from, std::int32_t into, std::size_t first, std::size_t last, std::size_t node,
                double sent, Supply& supply);
    // The live run of links [first, last] is lost at `node`, now.
    template <class Supply>
    void lose(std::size_t first, std::size_t last, std::size_t node, double now, Loss cause, Supply& supply);
    template <class Supply>
    void spread_within(std::int32_t lost, std::size_t node, double sent, Supply& supply) {
        spread(lost, lost, lost_runs_[lost].first, lost_runs_[lost].last, node, sent, supply);
    }
    template <class Supply>
    void swap(std::size_t node, bool succeeded, double now, Supply& supply);
    template <class Supply>
    void expire(std::size_t link, double now, Supply& supply);
    void renumber_lost_runs();

    const RouteShape* shape_ = nullptr;
    std::size_t links_ = 0;
    // Per link.
    EarliestTimes expiries_;               // of the qubits of the pair each link holds (with a cut-off)
    std::vector<double> ready_ms_;         // when the pair a link holds arrived
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
};

// The loss spreads from `node` as a light cone: a link's node hears of it at sent + distance / c (or
// earlier, from another loss of the same run). A link lost for the first time is told to its supplier;
// a later loss can only bring its restart forward.
template <class Supply>
void RouteRun::spread(std::int32_t from, std::int32_t into, std::size_t first, std::size_t last, std::size_t node,
                      double sent, Supply& supply) {
    for (std::size_t link = first; link <= last; ++link) {
        if (from < 0) {
            learn_left_ms_[link] = learn_right_ms_[link] = EarliestTimes::kNever;
            supply.lost(link, lost_runs_[into].cause);
        } else if (lost_with_[link] != from) {
            continue;  // it has attempted again since, and holds another pair or attempts for one
        }
        lost_with_[link] = into;
        learn_left_ms_[link] = std::min(learn_left_ms_[link], sent + distance_ms(node, link));
        learn_right_ms_[link] = std::min(learn_right_ms_[link], sent + distance_ms(node, link + 1));
        supply.restart(link, std::max(learn_left_ms_[link], learn_right_ms_[link]));
    }
    supply.restarted(first, last);
}

template <class Supply>
void RouteRun::lose(std::size_t first, std::size_t last, std::size_t node, double now, Loss cause, Supply& supply) {
    if (lost_runs_.size() >= 2 * links_ + 32) renumber_lost_runs();
    const auto lost = static_cast<std::int32_t>(lost_runs_.size());
    lost_runs_.push_back({static_cast<std::int32_t>(first), static_cast<std::int32_t>(last), cause});
    spread(-1, lost, first, last, node, now, supply);
}

template <class Stream, class Supply>
void RouteRun::swap_noted(double now, Stream& stream, Supply& supply) {
    succeeded_.clear();
    for (std::size_t k = 0; k < swapping_.size(); ++k)
        succeeded_.push_back(!shape_->swaps_draw || stream.next_open_closed() <= shape_->swap_success);
    for (std::size_t k = 0; k < swapping_.size(); ++k) swap(swapping_[k], succeeded_[k], now, supply);
    swapping_.clear();
}

// A node that swaps a run it does not yet know lost passes the loss on: the news reaches the node when
// it hears it and goes on into the other side.
template <class Supply>
void RouteRun::swap(std::size_t node, bool succeeded, double now, Supply& supply) {
    const std::size_t left = node - 1, right = node;
    held_left_[node] = held_right_[node] = 0;
    swap_ms_[node] = now;
    supply.swapped(node);
    const std::int32_t left_lost = lost_with_[left], right_lost = lost_with_[right];
    if (left_lost < 0 && right_lost < 0) {
        const std::size_t first = other_end_[left], last = other_end_[right];
        other_end_[first] = static_cast<std::int32_t>(last);
        other_end_[last] = static_cast<std::int32_t>(first);
        if (!succeeded) lose(first, last, node, now, Loss::Swap, supply);
        return;
    }
    const double left_heard = learn_right_ms_[left], right_heard = learn_left_ms_[right];
    const std::int32_t lost = left_lost >= 0 ? left_lost : right_lost;
    if (left_lost >= 0 && right_lost >= 0) {
        spread_within(left_lost, node, right_heard, supply);
        spread(right_lost, left_lost, lost_runs_[right_lost].first, lost_runs_[right_lost].last, node, left_heard,
               supply);
        lost_runs_[left_lost].last = lost_runs_[right_lost].last;
    } else if (left_lost >= 0) {
        spread(-1, left_lost, right, other_end_[right], node, left_heard, supply);
        lost_runs_[left_lost].last = other_end_[right];
    } else {
        spread(-1, right_lost, other_end_[left], left, node, right_heard, supply);
        lost_runs_[right_lost].first = other_end_[left];
    }
    if (!succeeded) spread_within(lost, node, now, supply);
}

template <class Supply>
void RouteRun::expire(std::size_t link, double now, Supply& supply) {
    for (std::size_t node : {link, link + 1}) {
        char& held = node == link ? held_right_[link] : held_left_[link + 1];
        if (!holds(held, link, node == link ? learn_left_ms_[link] : learn_right_ms_[link], now)) continue;
        const std::int32_t lost = lost_with_[link];
        if (lost >= 0) {
            held = 0;
            spread_within(lost, node, now, supply);
            continue;
        }
        const std::size_t first = std::min<std::size_t>(link, other_end_[link]);
        const std::size_t last = std::max<std::size_t>(link, other_end_[link]);
        // An end node keeps the qubit of a pair it already knows complete.
        if ((node == 0 || node == links_) && first == 0 && last + 1 == links_ &&
            (node == 0 ? known_ms().at_start : known_ms().at_end) <= now)
            continue;
        held = 0;
        lose(first, last, node, now, Loss::Cutoff, supply);
    }
}

}  // namespace vorn::physics
