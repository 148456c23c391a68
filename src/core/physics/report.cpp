#include "core/physics/report.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

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

double binary_entropy(double p) {
    if (p <= 0.0 || p >= 1.0) return 0.0;
    return -p * std::log2(p) - (1.0 - p) * std::log2(1.0 - p);
}

double secret_fraction(double error_rate_z, double error_rate_x) {
    return 1.0 - binary_entropy(error_rate_z) - binary_entropy(error_rate_x);
}

MeanInterval mean_interval(const std::vector<double>& values) {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    if (values.empty()) return {kNan, {kNan, kNan}};
    const double count = static_cast<double>(values.size());
    ExactSum sum;
    for (const double value : values) sum.add(value);
    const double mean = sum.total() / count;
    if (values.size() == 1) return {mean, {kNan, kNan}};
    // The sample standard deviation rounded once from the exact sum of squared deviations from the exact
    // mean, as Python's statistics.stdev gives it: each deviation from the rounded mean and its square are
    // split exactly into a rounded part and the rest; the deviations' sum then corrects for the rounding of
    // the mean, and a double-double quotient and one Newton step round the root.
    ExactSum deviations, squares;
    for (const double value : values) {
        const double deviation = value - mean;
        const double back = deviation - value;
        const double rest = (value - (deviation - back)) + (-mean - back);
        const double square = deviation * deviation;
        deviations.add(deviation);
        deviations.add(rest);
        squares.add(square);
        squares.add(std::fma(deviation, deviation, -square));
        squares.add(2.0 * deviation * rest);
    }
    const double drift = deviations.total();
    const double drift_square = drift * drift;
    squares.add(-drift_square / count);
    squares.add(-std::fma(drift, drift, -drift_square) / count);
    const double high = squares.total();
    squares.add(-high);
    const double low = squares.total();
    const double quotient = high / (count - 1.0);
    const double quotient_rest = (std::fma(-quotient, count - 1.0, high) + low) / (count - 1.0);
    double deviation = std::sqrt(std::max(0.0, quotient));
    if (deviation > 0.0) deviation += (std::fma(-deviation, deviation, quotient) + quotient_rest) / (2.0 * deviation);
    const double spread = kNormalQuantile95 * deviation / std::sqrt(count);
    return {mean, {mean - spread, mean + spread}};
}

}  // namespace vorn::physics
