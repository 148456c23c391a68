// A sum of doubles kept without rounding, so that the sums of the parts of a series add up to the
// sum of the whole series bit for bit, however the series was split.
#pragma once

#include <cstdint>
#include <vector>

namespace vorn {

class ExactSum {
public:
    void add(double term);
    // `count` times `term`, at once.
    void add_times(double term, std::uint64_t count);
    void add(const ExactSum& other);

    // The sum rounded once to the nearest double (ties to even), as Python's math.fsum(partials())
    // gives it. Infinite and NaN terms make it the IEEE sum of those terms alone (NaN for infinities of
    // both signs); a running sum beyond the largest double counts as such an infinite term.
    double total() const;

    // Doubles whose exact sum is this sum: non-overlapping, in increasing magnitude, none zero (an
    // empty list for a zero sum). A sum that met a non-finite value is the one value total() gives.
    std::vector<double> partials() const;

private:
    std::vector<double> partials_;
    double special_ = 0.0;     // sum of the non-finite terms
    double infinities_ = 0.0;  // sum of the infinite terms: NaN once both signs were met
};

}  // namespace vorn
