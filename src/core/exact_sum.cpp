#include "core/exact_sum.hpp"

#include <cmath>

namespace vorn {

// Shewchuk's expansion sums ("Adaptive precision floating-point arithmetic and fast robust geometric
// predicates", 1997), in the form of Python's math.fsum, so that the companion's merges round alike.
void ExactSum::add(double term) {
    if (!std::isfinite(term)) {
        if (std::isinf(term)) infinities_ += term;
        special_ += term;
        return;
    }
    std::size_t kept = 0;
    double x = term;
    for (double y : partials_) {
        if (std::fabs(x) < std::fabs(y)) std::swap(x, y);
        const double high = x + y;
        const double low = y - (high - x);
        if (low != 0.0) partials_[kept++] = low;
        x = high;
    }
    partials_.resize(kept);
    if (x == 0.0) return;
    if (!std::isfinite(x)) {
        // The running sum left the doubles: it stands as the infinity IEEE addition reaches too.
        infinities_ += x;
        special_ += x;
        partials_.clear();
        return;
    }
    partials_.push_back(x);
}

void ExactSum::add_times(double term, std::uint64_t count) {
    // count = high · 2^32 + low with both halves exact doubles; each product splits exactly into its
    // rounded value and the rounding error (the error of a product is a double, found by fma).
    const double halves[] = {static_cast<double>(count & 0xFFFFFFFFu), static_cast<double>(count >> 32)};
    const double scales[] = {1.0, 0x1p32};
    for (int i = 0; i < 2; ++i) {
        if (halves[i] == 0.0) continue;
        const double product = term * halves[i];
        const double error = std::isfinite(product) ? std::fma(term, halves[i], -product) : 0.0;
        add(product * scales[i]);
        if (error != 0.0) add(error * scales[i]);
    }
}

void ExactSum::add(const ExactSum& other) {
    const std::vector<double> terms = other.partials_;  // other may be this sum
    for (double partial : terms) add(partial);
    infinities_ += other.infinities_;
    special_ += other.special_;
}

double ExactSum::total() const {
    if (special_ != 0.0) return std::isnan(infinities_) ? infinities_ : special_;
    std::size_t n = partials_.size();
    if (n == 0) return 0.0;
    double high = partials_[--n];
    double low = 0.0;
    // Add from the top while the additions are exact; the first inexact one decides the rounding.
    while (n > 0) {
        const double x = high;
        const double y = partials_[--n];
        high = x + y;
        low = y - (high - x);
        if (low != 0.0) break;
    }
    // A tie between two doubles is no tie when the partials below push it one way: round that way.
    if (n > 0 && ((low < 0.0 && partials_[n - 1] < 0.0) || (low > 0.0 && partials_[n - 1] > 0.0))) {
        const double y = low * 2.0;
        const double x = high + y;
        if (y == x - high) high = x;
    }
    return high;
}

std::vector<double> ExactSum::partials() const {
    if (special_ != 0.0) return {total()};
    return partials_;
}

}  // namespace vorn
