#include "core/link_physics.hpp"

#include <cmath>

namespace vorn {

// Operations keep the order in which the formulas are written: seeded results are compared bit
// for bit, and a reordered sum or product can differ in the last place.

double purify(double fidelity, double purify_factor) {
    const double f = fidelity;
    const double d = 1.0 - f;
    const double numerator = f * f + d * d / 9.0;
    const double denominator = f * f + 2.0 * f * d / 3.0 + d * d / 9.0;
    if (denominator > 0.0) return std::fmin(numerator / denominator + purify_factor, kFidelityCap);
    return 0.5;
}

double attempt_success_probability(double distance_km, double base_fidelity, double fidelity_target) {
    const double x = distance_km / 100.0;
    const double r = x / (x + 1.0);
    const double penalty = base_fidelity < fidelity_target ? 0.3 * (fidelity_target - base_fidelity) : 0.0;
    const double p = 1.0 - 0.45 * r * r - penalty;
    return std::fmin(std::fmax(p, 0.5), 0.98);
}

}  // namespace vorn
