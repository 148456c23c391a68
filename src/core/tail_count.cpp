#include "core/tail_count.hpp"

#include <algorithm>
#include <bit>

#include "core/random/chacha12_simd.hpp"

#if VORN_CHACHA_X86
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_*(), which it then reports as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#endif

namespace vorn {
namespace {

constexpr unsigned kDraws = KeyedStream::kDrawsPerBlock;
constexpr unsigned kRunDraws = kDraws * chacha12::kLanes;

inline std::uint64_t draw_at(const std::uint32_t* block, unsigned i) {
    return std::uint64_t{block[2 * i]} | std::uint64_t{block[2 * i + 1]} << 32;
}

inline unsigned range_mask(unsigned first, unsigned end) { return ((1u << end) - 1) & ~((1u << first) - 1); }

#if VORN_CHACHA_X86
// The eight draws of a block are one vector of 64-bit values (x86 is little-endian: the first word
// is the low half).
__attribute__((target("avx512f,popcnt"))) unsigned failures_avx512(const std::uint32_t* block,
                                                                   const std::uint64_t* thresholds, unsigned first,
                                                                   unsigned end) {
    const __m512i draws = _mm512_srli_epi64(_mm512_loadu_si512(block), 12);
    const __mmask8 failed = _mm512_cmpge_epu64_mask(draws, _mm512_loadu_si512(thresholds));
    return static_cast<unsigned>(std::popcount(static_cast<unsigned>(failed) & range_mask(first, end)));
}

__attribute__((target("avx512f,popcnt"))) void first_cycle_failures_avx512(const std::uint32_t* blocks, int count,
                                                                           const std::uint64_t* thresholds,
                                                                           unsigned draws, unsigned* failed) {
    const __m512i bounds = _mm512_loadu_si512(thresholds);
    for (int k = 0; k < count; ++k) {
        const __m512i block = _mm512_srli_epi64(_mm512_loadu_si512(blocks + k * chacha12::kBlockWords), 12);
        failed[k] = static_cast<unsigned>(std::popcount(_mm512_cmpge_epu64_mask(block, bounds) & draws));
    }
}

// Four draws per vector; below 2^52 once shifted, so the signed comparison serves.
__attribute__((target("avx2,popcnt"))) unsigned failures_avx2(const std::uint32_t* block,
                                                              const std::uint64_t* thresholds, unsigned first,
                                                              unsigned end) {
    unsigned succeeded = 0;
    for (int half = 0; half < 2; ++half) {
        const __m256i draws =
            _mm256_srli_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 8 * half)), 12);
        const __m256i below =
            _mm256_cmpgt_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(thresholds + 4 * half)), draws);
        succeeded |= static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(below))) << (4 * half);
    }
    return static_cast<unsigned>(std::popcount(~succeeded & range_mask(first, end)));
}
#endif

// Sets the words of `lane` that every block of a key's stream shares, and its block counter.
void set_lane(chacha12::LaneStates& states, int lane, const chacha12::KeyWords& key, std::uint64_t block,
              std::uint64_t stream) {
    for (int w = 0; w < 8; ++w) states[4 + w][lane] = key[w];
    states[12][lane] = static_cast<std::uint32_t>(block);
    states[13][lane] = static_cast<std::uint32_t>(block >> 32);
    states[14][lane] = static_cast<std::uint32_t>(stream);
    states[15][lane] = static_cast<std::uint32_t>(stream >> 32);
}

void clear(chacha12::LaneStates& states) {
    std::fill(&states[0][0], &states[0][0] + chacha12::kBlockWords * chacha12::kLanes, 0u);
    chacha12::set_counter_and_stream(states, 0, 0);
}

// The bound of a threshold t: (x >> 12) >= t exactly when x >= t · 2^12.
void set_bound(chacha12::DrawBounds& bounds, unsigned draw, int lane, std::uint64_t threshold) {
    const std::uint64_t bound = threshold << 12;
    bounds.high[draw][lane] = static_cast<std::uint32_t>(bound >> 32);
    bounds.low[draw][lane] = static_cast<std::uint32_t>(bound);
}

}  // namespace

AttemptThresholds::AttemptThresholds(std::vector<std::uint64_t> success_below)
    : success_below_(std::move(success_below)) {
    const std::size_t hops = success_below_.size();
    if (hops == 0) return;
    block_step_ = static_cast<std::uint32_t>(kDraws % hops);
    run_step_ = static_cast<std::uint32_t>(kRunDraws % hops);
    for (unsigned offset = 0; offset < kDraws; ++offset)
        phase_before_[offset] = static_cast<std::uint32_t>((hops - offset % hops) % hops);
    if (hops > kTableHops) return;
    // A threshold of 2^52 (probability above 1) fails no draw, and its bound would not fit 64 bits.
    in_kernel_ = std::all_of(success_below_.begin(), success_below_.end(),
                             [](std::uint64_t t) { return t < (std::uint64_t{1} << 52); });
    by_phase_.resize(hops * kDraws);
    for (std::size_t phase = 0; phase < hops; ++phase)
        for (unsigned i = 0; i < kDraws; ++i) by_phase_[phase * kDraws + i] = success_below_[(phase + i) % hops];
}

unsigned AttemptThresholds::failures_in_block(const std::uint32_t* block, std::uint32_t phase, unsigned first,
                                              unsigned end) const {
    unsigned failed = 0;
    if (!by_phase_.empty()) {
        const std::uint64_t* thresholds = by_phase_.data() + std::size_t{phase} * kDraws;
#if VORN_CHACHA_X86
        const chacha12::Kernel kernel = chacha12::active_kernel();
        if (kernel == chacha12::Kernel::Avx512) return failures_avx512(block, thresholds, first, end);
        if (kernel == chacha12::Kernel::Avx2) return failures_avx2(block, thresholds, first, end);
#endif
        for (unsigned i = first; i < end; ++i) failed += (draw_at(block, i) >> 12) >= thresholds[i];
        return failed;
    }
    std::size_t hop = (phase + first) % hops();
    for (unsigned i = first; i < end; ++i) {
        failed += (draw_at(block, i) >> 12) >= success_below_[hop];
        if (++hop == hops()) hop = 0;
    }
    return failed;
}

void AttemptThresholds::first_cycle_failures(const std::uint32_t* blocks, int count, unsigned* failed) const {
    const auto hops = static_cast<unsigned>(this->hops());
#if VORN_CHACHA_X86
    if (chacha12::active_kernel() == chacha12::Kernel::Avx512)
        return first_cycle_failures_avx512(blocks, count, by_phase_.data(), range_mask(0, hops), failed);
#endif
    for (int k = 0; k < count; ++k) failed[k] = failures_in_block(blocks + k * chacha12::kBlockWords, 0, 0, hops);
}

void AttemptThresholds::consecutive_bounds(std::uint32_t phase, chacha12::DrawBounds& bounds) const {
    for (int lane = 0; lane < chacha12::kLanes; ++lane) {
        const std::uint64_t* thresholds = by_phase_.data() + std::size_t{phase} * kDraws;
        for (unsigned i = 0; i < kDraws; ++i) set_bound(bounds, i, lane, thresholds[i]);
        phase = phase_after(phase, 1);
    }
}

void AttemptThresholds::alike_bounds(std::uint32_t phase, chacha12::DrawBounds& bounds) const {
    const std::uint64_t* thresholds = by_phase_.data() + std::size_t{phase} * kDraws;
    for (int lane = 0; lane < chacha12::kLanes; ++lane)
        for (unsigned i = 0; i < kDraws; ++i) set_bound(bounds, i, lane, thresholds[i]);
}

const chacha12::DrawBounds& BoundsByPhase::get(const AttemptThresholds& thresholds, std::uint32_t phase, bool alike) {
    if (bounds_.empty()) bounds_.resize(thresholds.hops());
    auto& bounds = bounds_[phase];
    if (!bounds) {
        bounds = std::make_unique<chacha12::DrawBounds>();
        alike ? thresholds.alike_bounds(phase, *bounds) : thresholds.consecutive_bounds(phase, *bounds);
    }
    return *bounds;
}

TailCounter::TailCounter(const AttemptThresholds& thresholds, InterruptionPoll& poll)
    : thresholds_(thresholds), poll_(poll) {}

void TailCounter::add(const chacha12::KeyWords& key, std::uint64_t first_draw, std::uint64_t cycles,
                      const std::uint32_t* block_in_hand) {
    const std::size_t hops = thresholds_.hops();
    if (hops == 0 || cycles == 0) return;
    std::uint64_t block = first_draw / kDraws;
    auto offset = static_cast<unsigned>(first_draw % kDraws);
    std::uint32_t phase = thresholds_.phase_before(offset);
    DrawCount draws = DrawCount{cycles} * hops;
    if (block_in_hand) {
        draws = count_in_hand(block_in_hand, offset, phase, draws);
        offset = 0;
        ++block;
        phase = thresholds_.phase_after(phase, 1);
    }
    add_blocks(key, 0, block, offset, phase, draws);
}

void TailCounter::add(KeyedStream& draws, std::uint64_t cycles) {
    const std::size_t hops = thresholds_.hops();
    if (hops == 0) return;
    DrawCount remaining = DrawCount{cycles} * hops;
    if (draws.waiting_word_count() % 2 != 0) {
        for (std::size_t hop = 0; remaining > 0; --remaining) {
            failures_ += (draws.next_u64() >> 12) >= thresholds_[hop];
            if (++hop == hops) hop = 0;
            poll_.advance();
        }
        return;
    }
    // The words in hand end where a block ends.
    unsigned waiting = draws.waiting_word_count() / 2;
    const unsigned offset = (kDraws - waiting % kDraws) % kDraws;
    const std::uint32_t* block = draws.waiting_words() - 2 * offset;
    std::uint32_t phase = thresholds_.phase_before(offset);
    for (unsigned from = offset; waiting > 0 && remaining > 0; from = 0) {
        waiting -= kDraws - from;
        remaining = count_in_hand(block, from, phase, remaining);
        block += chacha12::kBlockWords;
        phase = thresholds_.phase_after(phase, 1);
    }
    add_blocks(draws.key(), draws.stream(), draws.next_block(), 0, phase, remaining);
}

TailCounter::DrawCount TailCounter::count_in_hand(const std::uint32_t* block, unsigned offset, std::uint32_t phase,
                                                  DrawCount draws) {
    const unsigned take = static_cast<unsigned>(std::min<DrawCount>(draws, kDraws - offset));
    failures_ += thresholds_.failures_in_block(block, phase, offset, offset + take);
    return draws - take;
}

void TailCounter::add_blocks(const chacha12::KeyWords& key, std::uint64_t stream, std::uint64_t block, unsigned offset,
                             std::uint32_t phase, DrawCount draws) {
    if (offset == 0 && draws >= kRunDraws && thresholds_.counts_in_kernel()) {
        alignas(64) chacha12::LaneStates run;
        clear(run);
        for (int lane = 0; lane < chacha12::kLanes; ++lane) set_lane(run, lane, key, 0, stream);
        for (; draws >= kRunDraws; draws -= kRunDraws, block += chacha12::kLanes) {
            for (int lane = 0; lane < chacha12::kLanes; ++lane) {
                const std::uint64_t counter = block + static_cast<std::uint64_t>(lane);
                run[12][lane] = static_cast<std::uint32_t>(counter);
                run[13][lane] = static_cast<std::uint32_t>(counter >> 32);
            }
            chacha12::LaneMasks above;
            chacha12::draws_at_or_above(run, bounds_.get(thresholds_, phase, false), above);
            failures_ += chacha12::count_at_or_above(above, 0xFFFF, 0xFF);
            phase = thresholds_.phase_after(phase, chacha12::kLanes);
            poll_.advance(kRunDraws);
        }
    }
    if (draws > 0 && !states_ready_) {
        clear(states_);  // only now: most requests on their own never get here
        states_ready_ = true;
    }
    while (draws > 0) {
        const unsigned take = draws < kDraws - offset ? static_cast<unsigned>(draws) : kDraws - offset;
        const int lane = used_++;
        set_lane(states_, lane, key, block, stream);
        lanes_[lane] = {phase, offset, offset + take};
        if (used_ == chacha12::kLanes) run_lanes();
        draws -= take;
        offset = 0;
        ++block;
        phase = thresholds_.phase_after(phase, 1);
    }
}

void TailCounter::run_lanes() {
    alignas(64) std::uint32_t blocks[chacha12::kLanes * chacha12::kBlockWords];
    chacha12::blocks(states_, blocks, used_);
    for (int lane = 0; lane < used_; ++lane)
        failures_ += thresholds_.failures_in_block(blocks + lane * chacha12::kBlockWords, lanes_[lane].phase,
                                                   lanes_[lane].first, lanes_[lane].end);
    poll_.advance(static_cast<std::uint64_t>(used_) * kDraws);
    used_ = 0;
}

void TailCounter::flush() {
    if (used_ > 0) run_lanes();
}

AlikeTails::AlikeTails(const AttemptThresholds& thresholds, InterruptionPoll& poll, std::uint64_t first_draw,
                       std::uint64_t cycles)
    : thresholds_(thresholds), poll_(poll) {
    clear(states_);
    const unsigned __int128 draws = static_cast<unsigned __int128>(cycles) * thresholds.hops();
    first_in_hand_ = static_cast<unsigned>(first_draw % kDraws);
    end_in_hand_ = static_cast<unsigned>(std::min<unsigned __int128>(kDraws, first_in_hand_ + draws));
    const unsigned __int128 rest = draws - (end_in_hand_ - first_in_hand_);
    next_block_ = first_draw / kDraws + 1;
    whole_blocks_ = static_cast<std::uint64_t>(rest / kDraws);
    last_draws_ = static_cast<unsigned>(rest % kDraws);
    next_phase_ = thresholds.phase_after(thresholds.phase_before(first_in_hand_), 1);
}

void AlikeTails::add(const chacha12::KeyWords& key) {
    for (int w = 0; w < 8; ++w) states_[4 + w][used_] = key[w];
    if (++used_ == chacha12::kLanes) flush();
}

void AlikeTails::add(const chacha12::LaneStates& keys, std::uint32_t lanes) {
    for (; lanes != 0; lanes &= lanes - 1) {
        const int lane = std::countr_zero(lanes);
        for (int w = 4; w < 12; ++w) states_[w][used_] = keys[w][lane];
        if (++used_ == chacha12::kLanes) flush();
    }
}

void AlikeTails::flush() {
    if (used_ == 0) return;
    const std::uint32_t lanes = (1u << used_) - 1;
    std::uint32_t phase = next_phase_;
    const std::uint64_t end = next_block_ + whole_blocks_ + (last_draws_ > 0);
    for (std::uint64_t block = next_block_; block < end; ++block) {
        std::fill(std::begin(states_[12]), std::end(states_[12]), static_cast<std::uint32_t>(block));
        std::fill(std::begin(states_[13]), std::end(states_[13]), static_cast<std::uint32_t>(block >> 32));
        const std::uint32_t draws = block - next_block_ < whole_blocks_ ? 0xFF : range_mask(0, last_draws_);
        chacha12::LaneMasks above;
        chacha12::draws_at_or_above(states_, bounds_.get(thresholds_, phase, true), above);
        failures_ += chacha12::count_at_or_above(above, lanes, draws);
        phase = thresholds_.phase_after(phase, 1);
        poll_.advance(static_cast<std::uint64_t>(used_) * kDraws);
    }
    used_ = 0;
}

}  // namespace vorn
