// Counts of non-negative doubles in bins of constant relative width: each binade [2^e, 2^(e+1)) is
// cut into 128 equal bins, so a bin is at most 1/128 of its lower edge wide. Bins are numbered by
// the top bits of the double itself (bin k holds the doubles whose bit patterns lie in
// [k·2^45, (k + 1)·2^45)), so counts merge exactly and the edges follow from the numbers alone.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/failure.hpp"

namespace vorn::physics {

class LogHistogram {
public:
    static constexpr int kBinShift = 45;  // 52 fraction bits less the 7 that cut a binade
    static constexpr int kBinsPerBinade = 128;

    // A negative or NaN value is a broken invariant.
    void add(double x) {
        if (!(x >= 0.0)) throw Panic("a histogram was given a value that is negative or NaN");
        const std::uint64_t bin = (std::bit_cast<std::uint64_t>(x) & ~(std::uint64_t{1} << 63)) >> kBinShift;
        auto& block = blocks_[bin / kBinsPerBinade];
        if (!block) block = std::make_unique<Block>();
        ++(*block)[bin % kBinsPerBinade];
    }

    // (bin, count) of every bin that holds something, in increasing order.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> counts() const;

private:
    using Block = std::array<std::uint64_t, kBinsPerBinade>;
    std::array<std::unique_ptr<Block>, 2048> blocks_;  // one per binade, made when first used
};

}  // namespace vorn::physics
