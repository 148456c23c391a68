// Pairs as Bell-diagonal states, and what swaps, memories and recurrence distillation do to them.
//
// A Bell-diagonal pair is |Φ+⟩ after a random Pauli error on one qubit: none, X (giving |Ψ+⟩),
// Y (|Ψ−⟩) or Z (|Φ−⟩). Its three correlations ⟨Z⊗Z⟩, ⟨X⊗X⟩ and −⟨Y⊗Y⟩ (each +1 for |Φ+⟩) are the
// Fourier transform of those four probabilities over the group of Pauli errors (X and Z bits, added
// modulo 2). A swap adds the errors of its two pairs, so it multiplies their correlations; a Pauli
// channel on a qubit multiplies each correlation by a factor of its own. Both therefore stay
// Bell-diagonal, and so do the recurrence protocols below.
#pragma once

#include <cmath>

namespace vorn::physics {

// The probabilities of the error that makes the pair from |Φ+⟩.
struct BellDiagonal {
    double none = 1.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct Correlations {
    double zz = 1.0;  // ⟨Z⊗Z⟩ = 1 − 2 (x + y): bit flips seen when both ends measure Z
    double xx = 1.0;  // ⟨X⊗X⟩ = 1 − 2 (z + y): phase flips seen when both ends measure X
    double yy = 1.0;  // −⟨Y⊗Y⟩ = 1 − 2 (x + z)
};

Correlations correlations_of(const BellDiagonal& pair);
BellDiagonal bell_diagonal_of(const Correlations& pair);

// The Werner state of parameter w: every correlation w, fidelity (1 + 3w) / 4.
inline Correlations werner(double w) { return {w, w, w}; }

inline double fidelity(const Correlations& pair) { return (1.0 + pair.zz + pair.xx + pair.yy) / 4.0; }
// Error rates of the two bases of BB84: e_Z (an X or Y error) and e_X (a Z or Y error).
inline double error_rate_z(const Correlations& pair) { return (1.0 - pair.zz) / 2.0; }
inline double error_rate_x(const Correlations& pair) { return (1.0 - pair.xx) / 2.0; }

// The pair that a swap of `a` and `b` leaves when its outcome is applied: their errors add up.
inline Correlations joined(const Correlations& a, const Correlations& b) {
    return {a.zz * b.zz, a.xx * b.xx, a.yy * b.yy};
}

enum class MemoryNoise {
    Dephasing,     // a qubit held t suffers Z with probability (1 − e^(−t/T2)) / 2
    Depolarizing,  // a qubit held t keeps its state with weight e^(−t/T2), else is fully mixed
};

// What memories do to a pair whose qubits were held for a total of Σ t / T2 = `exponent`: dephasing
// leaves ⟨Z⊗Z⟩ alone and multiplies the others by e^(−exponent); depolarising multiplies all three.
inline Correlations decayed(const Correlations& pair, double exponent, MemoryNoise noise) {
    const double factor = std::exp(-exponent);
    return {noise == MemoryNoise::Depolarizing ? pair.zz * factor : pair.zz, pair.xx * factor, pair.yy * factor};
}

// The factors by which one swap's imperfections multiply the joined pair's correlations:
// `gate_error` g replaces the node's two qubits by the fully mixed state with probability g (every
// correlation times 1 − g); `measurement_error` m flips each of the two outcome bits with probability
// m, giving an X error or a Z error with probability m each (⟨Z⊗Z⟩ and ⟨X⊗X⟩ times 1 − 2m, −⟨Y⊗Y⟩
// times (1 − 2m)²).
Correlations swap_noise(double gate_error, double measurement_error);

enum class Distillation {
    Dejmps,  // Deutsch et al. 1996: bilateral rotations, then bilateral CNOT; Bell-diagonal in and out
    Bbpssw,  // Bennett et al. 1996: inputs and output twirled into Werner states of the same fidelity
};

struct DistilledPair {
    BellDiagonal pair;           // the kept pair, when the round succeeds
    double success_probability;  // that both ends see the same outcome
};

// One recurrence round on pairs `a` (kept) and `b` (measured).
DistilledPair distilled(const BellDiagonal& a, const BellDiagonal& b, Distillation protocol);

}  // namespace vorn::physics
