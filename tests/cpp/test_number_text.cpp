#include "check.hpp"
#include "core/number_text.hpp"
#include "files/json_number.hpp"

using namespace vorn;
using vorn::files::json_number_text;
using vorn::files::parse_json_double;

TEST_CASE("each text form of a double") {
    const struct {
        double value;
        const char *json, *debug, *plain, *fixed2;
    } rows[] = {
        {0.0, "0.0", "0.0", "0", "0.00"},
        {-0.0, "-0.0", "-0.0", "-0", "-0.00"},
        {10.0, "10.0", "10.0", "10", "10.00"},
        {0.2, "0.2", "0.2", "0.2", "0.20"},
        {1000.0000001, "1000.0000001", "1000.0000001", "1000.0000001", "1000.00"},
        {1e-4, "0.0001", "0.0001", "0.0001", "0.00"},
        {1e-5, "0.00001", "1e-5", "0.00001", "0.00"},
        {1.5e-6, "1.5e-6", "1.5e-6", "0.0000015", "0.00"},
        {1e15, "1000000000000000.0", "1000000000000000.0", "1000000000000000", "1000000000000000.00"},
        {1e16, "1e16", "1e16", "10000000000000000", "10000000000000000.00"},
        {-2.5e300, "-2.5e300", "-2.5e300", nullptr, nullptr},
        {5e-324, "5e-324", "5e-324", nullptr, "0.00"},
        // Ties on the decimal text are decided by the exact binary value, as printf does.
        {0.125, "0.125", "0.125", "0.125", "0.12"},
        {0.375, "0.375", "0.375", "0.375", "0.38"},
        {1.005, "1.005", "1.005", "1.005", "1.00"},
        {kNaN, "null", "NaN", "NaN", "NaN"},
        {kInf, "null", "inf", "inf", "inf"},
        {-kInf, "null", "-inf", "-inf", "-inf"},
    };
    for (const auto& row : rows) {
        CHECK_EQ(json_number_text(row.value), std::string(row.json));
        CHECK_EQ(debug_number_text(row.value), std::string(row.debug));
        if (row.plain) CHECK_EQ(plain_number_text(row.value), std::string(row.plain));
        if (row.fixed2) CHECK_EQ(fixed2_number_text(row.value), std::string(row.fixed2));
    }
}

TEST_CASE("fixed decimals round the exact binary value") {
    const struct {
        double value;
        int decimals;
        const char* text;
    } rows[] = {
        {2.5, 0, "2"},          {3.5, 0, "4"},         {-0.4, 0, "-0"},
        {0.0005, 3, "0.001"},   {0.0015, 3, "0.002"},  {2.00025, 4, "2.0002"},
        {0.12345, 4, "0.1235"}, {-1e-9, 4, "-0.0000"}, {1e21, 3, "1000000000000000000000.000"},
        {kNaN, 3, "NaN"},       {-kInf, 4, "-inf"},
    };
    for (const auto& row : rows) CHECK_EQ(fixed_number_text(row.value, row.decimals), std::string(row.text));
    CHECK_EQ(fixed_number_text(5e-324, 330).substr(0, 10), std::string("0.00000000"));
    CHECK_EQ(fixed_number_text(-1.7976931348623157e308, 2).size(), std::size_t{313});
}

TEST_CASE("number texts are correctly rounded, underflow included") {
    const std::pair<const char*, std::optional<double>> rows[] = {
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"4.9e-324", 5e-324},
        {"2.4703282292062328e-324", 5e-324},  // just above half the smallest subnormal
        {"2.2250738585072011e-308", 2.225073858507201e-308},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"1.8e308", std::nullopt},
        {"-0", -0.0},
    };
    for (const auto& [text, value] : rows) {
        const std::optional<double> parsed = parse_json_double(text);
        CHECK_EQ(parsed.has_value(), value.has_value());
        if (parsed && value) CHECK(check::same_double(*parsed, *value));
    }
}

TEST_CASE("every digit-showing form reads back to the same double") {
    std::mt19937_64 random(20240611);
    int mismatches = 0;
    for (int i = 0; i < 200000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (!std::isfinite(value)) continue;
        for (const std::string& text : {json_number_text(value), debug_number_text(value), plain_number_text(value)}) {
            const std::optional<double> back = parse_json_double(text);
            if (!back || !check::same_double(*back, value)) ++mismatches;
        }
    }
    CHECK_EQ(mismatches, 0);
}

CHECK_MAIN()
