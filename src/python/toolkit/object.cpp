#include "python/toolkit/object.hpp"

namespace vorn::py {

namespace {

thread_local Claim* this_thread_claims = nullptr;  // newest first

}  // namespace

bool claimed_by_this_thread(const BorrowFlag& flag, bool exclusive) noexcept {
    for (const Claim* claim = this_thread_claims; claim; claim = claim->next)
        if (claim->flag == &flag && (exclusive || claim->exclusive)) return true;
    return false;
}

void add_claim(Claim& claim) noexcept {
    claim.next = this_thread_claims;
    this_thread_claims = &claim;
}

void remove_claim(Claim& claim) noexcept {
    for (Claim** at = &this_thread_claims; *at; at = &(*at)->next)
        if (*at == &claim) {
            *at = claim.next;
            return;
        }
}

}  // namespace vorn::py
