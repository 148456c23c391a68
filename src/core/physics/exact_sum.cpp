#include "core/physics/exact_sum.hpp"

namespace vorn::physics {

void ExactSum::add(const ExactSum& other) {
    for (std::size_t e = 0; e < bins_.size(); ++e) bins_[e] += other.bins_[e];
    infinities_ += other.infinities_;
}

std::vector<std::uint64_t> ExactSum::units() const {
    // Bin e counts units of 2^(e − 1075) = 2^(e − 1) units of 2^-1074.
    std::vector<std::uint64_t> limbs(bins_.size() / 64 + 4, 0);
    for (std::size_t e = 1; e < bins_.size(); ++e) {
        unsigned __int128 bin = bins_[e];
        if (bin == 0) continue;
        const std::size_t shift = e - 1;
        std::size_t limb = shift / 64;
        const unsigned offset = shift % 64;
        // The bin shifted by `offset` spans at most three limbs.
        const std::uint64_t parts[3] = {
            static_cast<std::uint64_t>(bin) << offset,
            offset == 0 ? static_cast<std::uint64_t>(bin >> 64) : static_cast<std::uint64_t>(bin >> (64 - offset)),
            offset == 0 ? 0 : static_cast<std::uint64_t>(bin >> (128 - offset)),
        };
        unsigned __int128 carry = 0;
        for (int k = 0; k < 3 || carry != 0; ++k, ++limb) {
            carry += static_cast<unsigned __int128>(limbs[limb]) + (k < 3 ? parts[k] : 0);
            limbs[limb] = static_cast<std::uint64_t>(carry);
            carry >>= 64;
        }
    }
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    return limbs;
}

}  // namespace vorn::physics
