// Repeated additions taken a binade at a time against the additions made one by one.
#include "check.hpp"
#include "core/repeated_sum.hpp"

using vorn::add_repeatedly;

static double one_by_one(double sum, double term, std::uint64_t times) {
    for (std::uint64_t i = 0; i < times; ++i) sum += term;
    return sum;
}

TEST_CASE("repeated additions equal the additions one by one, bit for bit") {
    std::mt19937_64 random(20261206);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    const double edge_values[] = {
        0.0,   -0.0,     1.0,       0.95, 0.1,   0.5,     1e-300,  0x1p-1074,    0x1p-1022, 3.0 * 0x1p-1074,
        1e300, INFINITY, -INFINITY, NAN,  -0.95, -1e-310, 0x1p-53, 1.0 + 0x1p-52};
    for (int round = 0; round < 3000; ++round) {
        double term = 0.0, sum = 0.0;
        switch (round % 6) {
            case 0: term = fraction(random); break;
            case 1: term = edge_values[random() % std::size(edge_values)]; break;
            // Half a unit of some binade above: every addition there is a tie.
            case 2:
                term = std::ldexp(static_cast<double>(2 * (random() % 50) + 1), -static_cast<int>(random() % 60));
                break;
            case 3: term = -fraction(random); break;
            case 4: term = std::ldexp(fraction(random), -1000 - static_cast<int>(random() % 74)); break;
            case 5: term = std::ldexp(fraction(random), static_cast<int>(random() % 40)); break;
        }
        switch (round % 5) {
            case 0: sum = 0.0; break;
            case 1: sum = edge_values[random() % std::size(edge_values)]; break;
            case 2: sum = std::ldexp(fraction(random), static_cast<int>(random() % 80) - 20); break;
            case 3: sum = std::ldexp(1.0, static_cast<int>(random() % 40)) - term; break;
            case 4: sum = -std::ldexp(fraction(random), static_cast<int>(random() % 10)); break;
        }
        const std::uint64_t times = random() % (round % 7 == 0 ? 300000 : 3000);
        if (!check::same_double(add_repeatedly(sum, term, times), one_by_one(sum, term, times)))
            check::fail(
                __FILE__, __LINE__,
                "sum " + std::to_string(sum) + " term " + std::to_string(term) + " times " + std::to_string(times));
    }
}

TEST_CASE("2^64 - 1 additions end at once") {
    const double sum = add_repeatedly(0.0, 0.95, UINT64_MAX);
    CHECK(sum > 1e15 && sum < 2e19);
    CHECK(check::same_double(add_repeatedly(sum, 0.95, 1), sum));  // a fixed point
    CHECK(check::same_double(add_repeatedly(0.0, 0.0, UINT64_MAX), 0.0));
}

CHECK_MAIN()
