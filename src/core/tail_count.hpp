// Counting failed attempts in bulk: the draws of the cycles that a request still runs after its first
// failed attempt decide nothing but their number of failures.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/interruption_poll.hpp"
#include "core/random/chacha12_block.hpp"
#include "core/random/keyed_stream.hpp"

namespace vorn {

// The attempt thresholds of a route's hops (an attempt fails when the top 52 bits of its draw are at
// or above its hop's threshold), laid out for whole blocks: draw i of a block whose first draw belongs
// to hop p is compared with the threshold of hop (p + i) mod hops, p being the block's phase.
class AttemptThresholds {
public:
    explicit AttemptThresholds(std::vector<std::uint64_t> success_below);

    std::size_t hops() const { return success_below_.size(); }
    std::uint64_t operator[](std::size_t hop) const { return success_below_[hop]; }

    // The phase of a block whose draw `offset` (0 to 7) belongs to hop 0.
    std::uint32_t phase_before(unsigned offset) const { return phase_before_[offset]; }
    // The phase `blocks` (1 or 16) blocks after one of phase `phase`.
    std::uint32_t phase_after(std::uint32_t phase, unsigned blocks) const {
        phase += blocks == 1 ? block_step_ : run_step_;
        return phase >= hops() ? phase - static_cast<std::uint32_t>(hops()) : phase;
    }

    // For each of `count` blocks (sixteen words each, one after another) of phase 0, the failures
    // among its first `hops()` draws (routes of up to eight hops): those of a first cycle.
    void first_cycle_failures(const std::uint32_t* blocks, int count, unsigned* failed) const;
    // Failures among draws first .. end-1 (0 <= first <= end <= 8) of `block` (sixteen words) of phase
    // `phase`.
    unsigned failures_in_block(const std::uint32_t* block, std::uint32_t phase, unsigned first, unsigned end) const;

    // Whether draws are counted in the kernel's registers (chacha12::draws_at_or_above): routes of up to
    // kTableHops hops whose attempts can fail at all.
    bool counts_in_kernel() const { return in_kernel_; }
    // The bounds of sixteen blocks for it: of consecutive blocks of one key, the first of phase `phase`;
    // or of sixteen keys' blocks that all have phase `phase`.
    void consecutive_bounds(std::uint32_t phase, chacha12::DrawBounds& bounds) const;
    void alike_bounds(std::uint32_t phase, chacha12::DrawBounds& bounds) const;

private:
    static constexpr std::size_t kTableHops = 64;
    std::vector<std::uint64_t> success_below_;
    std::uint32_t block_step_ = 0;  // a block's draws modulo hops
    std::uint32_t run_step_ = 0;    // sixteen blocks' draws modulo hops
    std::uint32_t phase_before_[KeyedStream::kDrawsPerBlock] = {};
    bool in_kernel_ = false;
    std::vector<std::uint64_t> by_phase_;  // the eight thresholds of a block of each phase
};

// Bounds made when first needed, by phase.
class BoundsByPhase {
public:
    const chacha12::DrawBounds& get(const AttemptThresholds& thresholds, std::uint32_t phase, bool alike);

private:
    std::vector<std::unique_ptr<chacha12::DrawBounds>> bounds_;
};

// Counts the failures among ranges of draws of many keys. Counts are complete after flush().
class TailCounter {
public:
    TailCounter(const AttemptThresholds& thresholds, InterruptionPoll& poll);

    // The failures of `cycles` cycles whose draws start at draw `first_draw` of stream 0 of `key`; the
    // first of them belongs to hop 0. `block_in_hand` (if not null) holds the words of the block of
    // `first_draw`, already computed.
    void add(const chacha12::KeyWords& key, std::uint64_t first_draw, std::uint64_t cycles,
             const std::uint32_t* block_in_hand = nullptr);
    // The same for the next `cycles` cycles of `draws`, starting with the words it holds (the last use
    // of those draws: `draws` is left where it stands). Draws that straddle blocks (after an odd number
    // of 32-bit draws) are taken one by one.
    void add(KeyedStream& draws, std::uint64_t cycles);

    void flush();
    std::uint64_t failures() const { return failures_; }

private:
    using DrawCount = unsigned __int128;  // cycles times hops, which 64 bits may not hold

    // Counts the draws from `offset` of the block in hand on; returns those left for later blocks.
    DrawCount count_in_hand(const std::uint32_t* block, unsigned offset, std::uint32_t phase, DrawCount draws);
    // Whole runs of sixteen blocks in the kernel's registers, the rest a lane at a time.
    void add_blocks(const chacha12::KeyWords& key, std::uint64_t stream, std::uint64_t block, unsigned offset,
                    std::uint32_t phase, DrawCount draws);
    void run_lanes();

    struct Lane {
        std::uint32_t phase;
        unsigned first, end;
    };
    const AttemptThresholds& thresholds_;
    InterruptionPoll& poll_;
    BoundsByPhase bounds_;
    alignas(64) chacha12::LaneStates states_;
    bool states_ready_ = false;
    Lane lanes_[chacha12::kLanes];
    int used_ = 0;
    std::uint64_t failures_ = 0;
};

// The tails of many keys that start at the same draw and run the same number of cycles, as those of the
// trials that fail in their first cycle do: sixteen keys a kernel call, block after block, compared in
// the kernel's registers. Needs thresholds that count_in_kernel().
class AlikeTails {
public:
    // Tails of `cycles` cycles from draw `first_draw`, which belongs to hop 0.
    AlikeTails(const AttemptThresholds& thresholds, InterruptionPoll& poll, std::uint64_t first_draw,
               std::uint64_t cycles);

    // The draws of a tail within the block of its first draw, which its caller has in hand and counts:
    // first_in_hand() .. end_in_hand() - 1 of that block.
    unsigned first_in_hand() const { return first_in_hand_; }
    unsigned end_in_hand() const { return end_in_hand_; }

    // The tail of `key`, past the block in hand.
    void add(const chacha12::KeyWords& key);
    // The tails of the keys of `lanes` (a bit mask) in `keys`.
    void add(const chacha12::LaneStates& keys, std::uint32_t lanes);
    void flush();
    std::uint64_t failures() const { return failures_; }

private:
    const AttemptThresholds& thresholds_;
    InterruptionPoll& poll_;
    BoundsByPhase bounds_;
    unsigned first_in_hand_ = 0, end_in_hand_ = 0;
    std::uint64_t next_block_ = 0;    // the first block past the one in hand
    std::uint64_t whole_blocks_ = 0;  // then whole blocks,
    unsigned last_draws_ = 0;         // then the draws of a last, partial one
    std::uint32_t next_phase_ = 0;    // the phase of next_block_
    alignas(64) chacha12::LaneStates states_;
    int used_ = 0;
    std::uint64_t failures_ = 0;
};

}  // namespace vorn
