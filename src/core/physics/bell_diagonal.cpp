#include "core/physics/bell_diagonal.hpp"

namespace vorn::physics {

Correlations correlations_of(const BellDiagonal& pair) {
    return {pair.none + pair.z - pair.x - pair.y, pair.none + pair.x - pair.y - pair.z,
            pair.none + pair.y - pair.x - pair.z};
}

BellDiagonal bell_diagonal_of(const Correlations& pair) {
    return {(1.0 + pair.zz + pair.xx + pair.yy) / 4.0, (1.0 - pair.zz + pair.xx - pair.yy) / 4.0,
            (1.0 - pair.zz - pair.xx + pair.yy) / 4.0, (1.0 + pair.zz - pair.xx - pair.yy) / 4.0};
}

Correlations swap_noise(double gate_error, double measurement_error) {
    const double kept = 1.0 - gate_error, bit = 1.0 - 2.0 * measurement_error;
    return {kept * bit, kept * bit, kept * bit * bit};
}

// The bilateral CNOT from `a` onto `b` adds a's X error to b's and b's Z error to a's; measuring b in
// the Z basis at both ends keeps the pairs whose X errors agree, leaving a with Z error z_a + z_b.
// DEJMPS first exchanges Y and Z errors on both pairs (its bilateral rotations), so that the check
// also catches Y errors; the result is their map (A, B, C, D for none, Y, X, Z):
// A' = (A² + B²) / N, B' = 2CD / N, C' = (C² + D²) / N, D' = 2AB / N, N = (A + B)² + (C + D)².
DistilledPair distilled(const BellDiagonal& a, const BellDiagonal& b, Distillation protocol) {
    if (protocol == Distillation::Bbpssw) {
        const double ea = (1.0 - a.none) / 3.0, eb = (1.0 - b.none) / 3.0;
        const double success = (a.none + ea) * (b.none + eb) + 4.0 * ea * eb;
        const double kept = (a.none * b.none + ea * eb) / success;
        const double other = (1.0 - kept) / 3.0;
        return {{kept, other, other, other}, success};
    }
    const double success = (a.none + a.y) * (b.none + b.y) + (a.x + a.z) * (b.x + b.z);
    return {{(a.none * b.none + a.y * b.y) / success, (a.x * b.x + a.z * b.z) / success,
             (a.x * b.z + a.z * b.x) / success, (a.none * b.y + a.y * b.none) / success},
            success};
}

}  // namespace vorn::physics
