// The earliest of n pending times, each changed in O(log n): a tournament tree whose inner nodes hold
// the index of the earlier of their two children (the lower index on a tie) and its time.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace vorn::physics {

class EarliestTimes {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    // n times, all kNever.
    void resize(std::size_t count) {
        leaves_ = 1;
        while (leaves_ < count) leaves_ *= 2;
        winner_.resize(2 * leaves_);
        for (std::size_t k = 0; k < leaves_; ++k) winner_[leaves_ + k] = static_cast<std::uint32_t>(k);
        clear();
    }
    void clear() {
        times_.assign(2 * leaves_, kNever);
        refresh(0, leaves_ - 1);
    }

    std::size_t earliest() const { return winner_[1]; }
    double earliest_time() const { return times_[1]; }

    void set(std::size_t i, double time) {
        times_[leaves_ + i] = time;
        for (std::size_t k = (leaves_ + i) / 2; k >= 1; k /= 2) play(k);
    }

    // Sets a time without updating the tree; refresh() over the changed range afterwards.
    void set_only(std::size_t i, double time) { times_[leaves_ + i] = time; }
    // O(last − first + log n).
    void refresh(std::size_t first, std::size_t last) {
        for (std::size_t lo = (leaves_ + first) / 2, hi = (leaves_ + last) / 2; hi >= 1; lo /= 2, hi /= 2)
            for (std::size_t k = lo; k <= hi; ++k) play(k);
    }

private:
    // Without a branch: which child wins is as good as random. The left child's winner has the lower
    // index, so it keeps a tie.
    void play(std::size_t k) {
        const std::size_t right_wins = times_[2 * k + 1] < times_[2 * k];
        winner_[k] = winner_[2 * k + right_wins];
        times_[k] = times_[2 * k + right_wins];
    }

    std::size_t leaves_ = 1;
    // For node k ≥ 1 (leaf i at leaves_ + i): the index of its earliest time, and that time.
    std::vector<std::uint32_t> winner_{0, 0};
    std::vector<double> times_{kNever, kNever};
};

}  // namespace vorn::physics
