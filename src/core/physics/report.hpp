// What the physical model reports: the route with the figures of its links, and the exact totals of an
// ensemble, as records that leave the library (their descriptions give their Python classes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/physics/ensemble.hpp"
#include "core/physics/model.hpp"
#include "describe/record.hpp"

namespace vorn::physics {

// One link of a route: its ends in the route's direction and the model's figures for it.
struct HopReport {
    std::string from_node;
    std::string to;
    Hop figures;

    friend bool operator==(const HopReport&, const HopReport&) = default;
};

constexpr auto description(const HopReport*) {
    using namespace describe;
    using H = HopReport;
    return record<H>(field<&H::from_node>("from_node", "Identifier of the link's first node in the route's direction"),
                     field<&H::to>("to", "Identifier of the link's other node"), embed<&H::figures>());
}

struct RouteReport {
    std::vector<std::string> path;
    std::vector<HopReport> hops;

    friend bool operator==(const RouteReport&, const RouteReport&) = default;
};

constexpr auto description(const RouteReport*) {
    using namespace describe;
    using R = RouteReport;
    return record<R>(
        field<&R::path, AsTuple>("path", "Node identifiers of the route that route finding picks (empty without one)"),
        field<&R::hops, AsTuple>("hops", "The route's links, hop k joining path[k] and path[k + 1]"));
}

RouteReport report_of(const Chain& chain);

// A sum of non-negative doubles, exactly: a whole number of units of 2^-1074 (the smallest subnormal double)
// as little-endian 64-bit limbs, or infinite once an infinite term was added. Limbs above the highest that
// is not zero change nothing.
struct ExactUnits {
    std::vector<std::uint64_t> limbs;
    bool infinite = false;

    friend bool operator==(const ExactUnits& a, const ExactUnits& b);
};

ExactUnits units_of(const ExactSum& sum);

// An ensemble's totals, exact so that ensembles over consecutive seed ranges add up bit for bit.
struct EnsembleReport {
    std::vector<std::string> path;
    PhysicalModel model;
    std::optional<std::uint64_t> seed;
    std::uint64_t runs = 0;
    std::uint64_t delivered = 0;
    ExactUnits waiting_time_ms_sum;
    ExactUnits waiting_time_ms_squares;
    ExactUnits fidelity_sum;
    ExactUnits fidelity_squares;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> waiting_time_ms_bins;
    ExactUnits error_rate_z_sum;
    ExactUnits error_rate_z_squares;
    ExactUnits error_rate_x_sum;
    ExactUnits error_rate_x_squares;

    friend bool operator==(const EnsembleReport&, const EnsembleReport&) = default;
};

constexpr auto description(const EnsembleReport*) {
    using namespace describe;
    using E = EnsembleReport;
    return record<E>(
        field<&E::path, AsTuple>("path", "Node identifiers of the route (empty without one)"),
        field<&E::model>("model", "The parameters every trial used"),
        field<&E::seed>("seed", "Seed of trial 0; trial i used seed + i (modulo 2**64); None for pooled ensembles"),
        field<&E::runs>("runs", "Trials run"), field<&E::delivered>("delivered", "Trials that delivered a pair"),
        field<&E::waiting_time_ms_sum>("waiting_time_ms_sum",
                                       "Exact sum of the delivered trials' waiting times (ms), in units of "
                                       "2**-1074 (inf once the sum overflows)"),
        field<&E::waiting_time_ms_squares>("waiting_time_ms_squares",
                                           "Exact sum of their squares (ms²), in units of 2**-1074 (inf once the sum "
                                           "overflows)"),
        field<&E::fidelity_sum>("fidelity_sum", "Exact sum of the delivered fidelities, in units of 2**-1074"),
        field<&E::fidelity_squares>("fidelity_squares", "Exact sum of their squares, in units of 2**-1074"),
        field<&E::waiting_time_ms_bins, AsTuple>("waiting_time_ms_bins",
                                                 "The waiting-time histogram as (bin, count) pairs, bins increasing: "
                                                 "bin k holds the delivered waiting times whose bit patterns lie in "
                                                 "[k·2**45, (k + 1)·2**45)"),
        field<&E::error_rate_z_sum>("error_rate_z_sum",
                                    "Exact sum of the delivered pairs' error rates e_Z (the share of bits that differ "
                                    "when both ends measure Z), in units of 2**-1074",
                                    kKeywordOnly),
        field<&E::error_rate_z_squares>("error_rate_z_squares", "Exact sum of their squares, in units of 2**-1074",
                                        kKeywordOnly),
        field<&E::error_rate_x_sum>("error_rate_x_sum",
                                    "Exact sum of the delivered pairs' error rates e_X (when both ends measure X), in "
                                    "units of 2**-1074",
                                    kKeywordOnly),
        field<&E::error_rate_x_squares>("error_rate_x_squares", "Exact sum of their squares, in units of 2**-1074",
                                        kKeywordOnly));
}

EnsembleReport report_of(const Chain& chain, const PhysicalModel& model, std::uint64_t seed,
                         const EnsembleTotals& totals);

// The level of the intervals the results give: the two-sided 95 % quantile of the standard normal
// distribution, and the quantiles of waiting times they report.
inline constexpr double kNormalQuantile95 = 1.959963984540054;
inline constexpr double kWaitingTimeQuantiles[] = {0.05, 0.25, 0.5, 0.75, 0.95};

struct MeanInterval {
    double mean = 0.0;
    std::pair<double, double> interval;
};

// The mean of independent values (rounded once from their exact sum) and its 95 % normal interval,
// mean ± z s / sqrt(n) with s the sample standard deviation; NaN without values, an interval of NaN
// with one.
MeanInterval mean_interval(const std::vector<double>& values);

// h(p) = -p log2 p - (1 - p) log2(1 - p), with h(0) = h(1) = 0.
double binary_entropy(double p);

// The BB84 secret fraction of pairs with these error rates, 1 - h(e_Z) - h(e_X), not clipped at 0.
double secret_fraction(double error_rate_z, double error_rate_x);

}  // namespace vorn::physics
