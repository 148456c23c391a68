#include "core/loss_generator.hpp"

#include <random>

namespace vorn {
namespace {

std::uint64_t splitmix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

// splitmix64 spreads the seed so that no seed gives the all-zero state.
LossGenerator::LossGenerator(std::uint64_t seed) {
    for (auto& word : state_) word = splitmix64(seed);
}

LossGenerator& LossGenerator::for_this_thread() {
    thread_local LossGenerator generator = [] {
        std::random_device device;
        return LossGenerator((std::uint64_t{device()} << 32) | device());
    }();
    return generator;
}

}  // namespace vorn
