// The figures the timeline derives from a hop's link: attempt success and purification.
#pragma once

namespace vorn {

// No fidelity the model produces exceeds this.
inline constexpr double kFidelityCap = 0.999;

// The purification map with additive factor k, capped at kFidelityCap; 0.5 when its denominator is
// not positive (NaN included).
double purify(double fidelity, double purify_factor);

// Chance that one generation attempt on a hop succeeds, kept within [0.5, 0.98].
double attempt_success_probability(double distance_km, double base_fidelity, double fidelity_target);

}  // namespace vorn
