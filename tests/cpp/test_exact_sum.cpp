// Exact sums against integer arithmetic, however the terms are split and merged.
#include "check.hpp"
#include "core/ensemble/exact_sum.hpp"

using vorn::ExactSum;

// Terms m · 2^-40 with |m| < 2^53 and their sums are exact 128-bit integers in units of 2^-40; the
// conversion of such an integer to double rounds to nearest, ties to even, as the exact sum must.
constexpr int kUnitExponent = -40;

static double random_term(std::mt19937_64& random) {
    const auto mantissa = static_cast<std::int64_t>(random() >> (11 + random() % 50));
    return std::ldexp(static_cast<double>(random() % 2 ? mantissa : -mantissa), kUnitExponent + random() % 30);
}

static __int128 units(double term) { return static_cast<__int128>(std::ldexp(term, -kUnitExponent)); }

static double rounded(__int128 total) { return std::ldexp(static_cast<double>(total), kUnitExponent); }

static ExactSum sum_of(const std::vector<double>& terms) {
    ExactSum sum;
    for (double term : terms) sum.add(term);
    return sum;
}

// The exponent of the lowest bit set in a non-zero finite double.
static int lowest_bit(double x) {
    int exponent = 0;
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(std::frexp(std::fabs(x), &exponent), 53));
    return exponent - 53 + std::countr_zero(mantissa);
}

// No zero, and each partial lies wholly below the lowest bit of the next.
static bool non_overlapping(const std::vector<double>& partials) {
    for (std::size_t i = 0; i < partials.size(); ++i)
        if (partials[i] == 0.0 || (i > 0 && std::ilogb(partials[i - 1]) >= lowest_bit(partials[i]))) return false;
    return true;
}

TEST_CASE("the total is the exact sum rounded once, ties to even, however the terms are split") {
    std::mt19937_64 random(2718);
    for (int round = 0; round < 2000; ++round) {
        std::vector<double> terms(1 + random() % 40);
        __int128 exact = 0;
        for (double& term : terms) exact += units(term = random_term(random));
        const ExactSum whole = sum_of(terms);
        CHECK(check::same_double(whole.total(), rounded(exact) + 0.0));
        CHECK(non_overlapping(whole.partials()));
        ExactSum total_of_partials = sum_of(whole.partials());
        CHECK(check::same_double(total_of_partials.total(), whole.total()));

        const std::size_t cut = random() % (terms.size() + 1);
        ExactSum merged = sum_of({terms.begin(), terms.begin() + static_cast<std::ptrdiff_t>(cut)});
        merged.add(sum_of({terms.begin() + static_cast<std::ptrdiff_t>(cut), terms.end()}));
        CHECK(check::same_double(merged.total(), whole.total()));
    }
}

TEST_CASE("sums that plain addition gets wrong") {
    const double tie_up = 1.0 + 0x1p-52;  // 1 + 2^-52 + 2^-53 lies halfway; a lower partial decides
    const struct {
        std::vector<double> terms;
        double total;
    } cases[] = {
        {{}, 0.0},
        {{1e100, 1.0, -1e100}, 1.0},
        {{1.0, 0x1p-53}, 1.0},                      // a tie: to the even neighbour
        {{1.0, 0x1p-53, 0x1p-100}, 1.0 + 0x1p-52},  // just above the tie
        {{1.0, 0x1p-53, -0x1p-100}, 1.0},           // just below it
        {{tie_up, 0x1p-53}, tie_up + 0x1p-52},      // a tie to the even neighbour above
        {{0.1, 0.2, 0.3, -0.6}, 0x1p-55},           // the representation errors, exactly
        {{0x1p-1074, 0x1p-1074, -0x1p-1073}, 0.0},
        {{1e308, 1e308, -1e308}, 1e308},  // no running sum leaves the doubles
        {{1e308, 1e308}, INFINITY},       // the sum itself does
        {{1.0, INFINITY, 5.0}, INFINITY},
        {{INFINITY, -INFINITY, 1.0}, NAN},
        {{NAN, 1.0}, NAN},
    };
    for (const auto& c : cases) {
        const ExactSum sum = sum_of(c.terms);
        CHECK_FOR(std::to_string(&c - cases), check::same_double(sum.total(), c.total));
        const std::vector<double> partials = sum.partials();
        CHECK(std::isfinite(c.total) ? non_overlapping(partials) : partials.size() == 1);
    }
}

TEST_CASE("the sum as an integer of units of 2^-1074") {
    using Units = std::vector<std::uint64_t>;
    const auto units_of = [](const std::vector<double>& terms) { return sum_of(terms).units(); };
    CHECK(units_of({}).empty() && units_of({0.0, -0.0}).empty() && units_of({1.0, -1.0}).empty());
    CHECK(units_of({0x1p-1074}) == Units{1});
    CHECK(units_of({0x1p-1074, 0x1p-1022}) == Units{(std::uint64_t{1} << 52) + 1});
    // 1.0 is 2^1074 units: bit 1074 = limb 16, bit 50; 1 + 2^-60 + 2^-60 loses nothing.
    Units one(17, 0);
    one[16] = std::uint64_t{1} << 50;
    CHECK(units_of({0.5, 0.25, 0.25}) == one);
    CHECK(units_of({-0.25, 1.25}) == one && !sum_of({-0.25, 1.25}).negative() && sum_of({0.25, -1.25}).negative());
    Units sum = one;
    sum[15] = std::uint64_t{1} << (1074 - 59 - 15 * 64);
    CHECK(units_of({1.0, 0x1p-60, 0x1p-60}) == sum);
    // Beyond the doubles the units stay exact while the total rounds to an infinity.
    const double max = std::numeric_limits<double>::max();
    const ExactSum twice_max = sum_of({max, max});
    Units doubled = sum_of({max}).units();
    for (std::size_t i = doubled.size(); i-- > 1;) doubled[i] = doubled[i] << 1 | doubled[i - 1] >> 63;
    doubled[0] <<= 1;
    CHECK(twice_max.finite() && twice_max.units() == doubled && twice_max.total() == INFINITY);
    CHECK(!sum_of({1.0, INFINITY}).finite());
}

TEST_CASE("adding a term many times at once equals adding it time after time") {
    std::mt19937_64 random(31);
    for (int round = 0; round < 300; ++round) {
        const double term = round % 3 ? random_term(random) : std::ldexp(1.0 + 0x1p-52, -1074 + 52);
        const std::uint64_t count = round % 2 ? random() % 3000 : (random() % 3000) << 40;
        ExactSum at_once;
        at_once.add_times(term, count);
        ExactSum reference;
        if (count < 3000) {
            for (std::uint64_t i = 0; i < count; ++i) reference.add(term);
        } else {
            for (std::uint64_t i = 0; i < (count >> 40); ++i) reference.add(std::ldexp(term, 40));
        }
        CHECK(at_once.partials() == reference.partials());
    }
    ExactSum huge;
    huge.add_times(1e300, ~std::uint64_t{0});
    CHECK(huge.total() == INFINITY);
}

CHECK_MAIN()
