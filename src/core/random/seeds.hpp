// What a seed decides: the key of the streams a trial draws from, which stream of that key each user
// draws from, and the seeds of independent replicates.
#pragma once

#include <cstdint>

#include "core/random/chacha12_block.hpp"

namespace vorn {

// How a trial's seed becomes a ChaCha12 key. ChaCha12 is a pseudorandom function of its key and nonce,
// so different keys, or different streams (nonces) of one key, give independent keystreams.
enum class SeedKey {
    // Eight PCG32 outputs of the states s·M + I, (s·M + I)·M + I, ... Every seeded result of vorn_core's
    // simulate depends on it.
    Pcg,
};

// The key of a seed and the stream of that key (the nonce) that a user of the keystream draws from.
struct SeedStream {
    SeedKey key;
    std::uint64_t stream;
};

// The engine's generation draws.
inline constexpr SeedStream kGenerationDraws{SeedKey::Pcg, 0};
// The loss draws of the companion's keyed ensembles: independent of the generation draws of the same seed.
inline constexpr SeedStream kKeyedLossDraws{SeedKey::Pcg, 1};
// The physical model's draws.
inline constexpr SeedStream kPhysicalModelDraws{SeedKey::Pcg, 2};
// The network model's draws, one run of a network per seed.
inline constexpr SeedStream kNetworkModelDraws{SeedKey::Pcg, 3};

chacha12::KeyWords key_words(SeedKey key, std::uint64_t seed);

// The keys of consecutive seeds, sixteen at a time, as the key words of a LaneStates. For the PCG key,
// the state after step j is affine in the seed (s·M^j + c_j modulo 2^64), so the states of the next
// sixteen seeds are those of the last sixteen plus 16·M^j: no multiplication per key.
template <SeedKey Key>
class SeedKeys {
public:
    explicit SeedKeys(std::uint64_t first_seed);
    // Key words of seeds first + lane (modulo 2^64) into state words 4..11 of all sixteen lanes; then
    // moves on to the next sixteen seeds.
    void fill(chacha12::LaneStates& states);

private:
    alignas(64) std::uint64_t states_[8][chacha12::kLanes];
    std::uint64_t increments_[8];
};

// The first seed of replicate k of `seed` (k < count) is base + k · runs modulo 2^64, base being the
// 8-byte BLAKE2b digest (personal "vorn-rep") of the seed's 8 bytes, little-endian both. Replicates of
// `runs` trials are then consecutive, non-overlapping seed ranges, and those of different seeds lie
// far apart.
std::uint64_t replicate_base(std::uint64_t seed);

}  // namespace vorn
