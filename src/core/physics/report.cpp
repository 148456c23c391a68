#include "core/physics/report.hpp"

#include <algorithm>

namespace vorn::physics {

namespace {

std::size_t significant(const std::vector<std::uint64_t>& limbs) {
    std::size_t size = limbs.size();
    while (size > 0 && limbs[size - 1] == 0) --size;
    return size;
}

}  // namespace

bool operator==(const ExactUnits& a, const ExactUnits& b) {
    if (a.infinite || b.infinite) return a.infinite == b.infinite;
    const std::size_t size = significant(a.limbs);
    return size == significant(b.limbs) && std::equal(a.limbs.begin(), a.limbs.begin() + size, b.limbs.begin());
}

RouteReport report_of(const Chain& chain) {
    RouteReport report{chain.path, {}};
    for (std::size_t k = 0; k < chain.hops.size(); ++k)
        report.hops.push_back({chain.path[k], chain.path[k + 1], chain.hops[k]});
    return report;
}

ExactUnits units_of(const ExactSum& sum) {
    if (!sum.finite()) return {{}, true};
    return {sum.units(), false};
}

EnsembleReport report_of(const Chain& chain, const PhysicalModel& model, std::uint64_t seed,
                         const EnsembleTotals& totals) {
    return {chain.path,
            model,
            seed,
            totals.runs,
            totals.delivered,
            units_of(totals.waiting_time_ms),
            units_of(totals.waiting_time_ms_squared),
            units_of(totals.fidelity),
            units_of(totals.fidelity_squared),
            totals.waiting_time_ms_histogram.counts(),
            units_of(totals.error_rate_z),
            units_of(totals.error_rate_z_squared),
            units_of(totals.error_rate_x),
            units_of(totals.error_rate_x_squared)};
}

}  // namespace vorn::physics
