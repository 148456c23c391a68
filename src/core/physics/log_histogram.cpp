#include "core/physics/log_histogram.hpp"

namespace vorn::physics {

std::vector<std::pair<std::uint32_t, std::uint64_t>> LogHistogram::counts() const {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> bins;
    for (std::size_t binade = 0; binade < blocks_.size(); ++binade) {
        if (!blocks_[binade]) continue;
        for (std::size_t k = 0; k < kBinsPerBinade; ++k)
            if (const std::uint64_t count = (*blocks_[binade])[k])
                bins.emplace_back(static_cast<std::uint32_t>(binade * kBinsPerBinade + k), count);
    }
    return bins;
}

}  // namespace vorn::physics
