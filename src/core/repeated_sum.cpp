#include "core/repeated_sum.hpp"

#include <cmath>
#include <cstring>

namespace vorn {
namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Below each power of two the doubles are evenly spaced, `unit` apart (down to the subnormals, which
// share the spacing of the lowest binade), and an addition whose exact value stays below it rounds to
// that grid. So once two additions in a row have moved the sum by the same amount, every further
// addition that stays clear of the power of two moves it by that amount too: the rounding depends on
// the sum only through the parity of its last digit in a tie, and an increment seen twice keeps that
// parity. Only positive terms are handled here; the caller mirrors negative ones, as rounding to
// nearest is symmetric.
double add_positive(double sum, double term, std::uint64_t times) {
    while (times > 0) {
        const double next = sum + term;
        if (std::isnan(next)) return next;     // and stays NaN with this payload
        if (same_bits(next, sum)) return sum;  // a fixed point: every further addition leaves it
        const double after = next + term;
        if (times >= 2 && sum >= 0.0 && std::isfinite(after) && after - next == next - sum) {
            int exponent = 0;
            std::frexp(sum, &exponent);
            if (sum < 0x1p-1021) exponent = -1021;
            const double top = std::ldexp(1.0, exponent);
            const double unit = std::ldexp(1.0, exponent - 53);
            if (after < top) {
                const auto step = static_cast<std::uint64_t>((next - sum) / unit);
                const auto room = static_cast<std::uint64_t>((top - sum) / unit);
                // Each exact sum then stays below top - unit / 2, so it rounds on this grid.
                std::uint64_t jump = room >= 2 ? (room - 2) / step : 0;
                if (jump > times) jump = times;
                if (jump >= 2) {
                    sum += static_cast<double>(jump * step) * unit;
                    times -= jump;
                    continue;
                }
            }
        }
        sum = next;
        --times;
    }
    return sum;
}

}  // namespace

double add_repeatedly(double sum, double term, std::uint64_t times) {
    // Opposite signs: the sum shrinks towards the term's side one addition at a time.
    while (times > 0 && std::signbit(sum) != std::signbit(term) && !std::isnan(sum) && !std::isnan(term)) {
        const double next = sum + term;
        if (same_bits(next, sum)) return sum;
        sum = next;
        --times;
    }
    if (times == 0) return sum;
    if (std::signbit(term)) return -add_positive(-sum, -term, times);
    return add_positive(sum, term, times);
}

}  // namespace vorn
