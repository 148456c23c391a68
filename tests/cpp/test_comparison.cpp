// The ranking and summary of a topology comparison, from results given directly.
#include "check.hpp"
#include "core/topology/comparison.hpp"

using namespace vorn;

static TopologyComparisonReport report_of(std::vector<TopologyComparisonResult> results) {
    TopologyComparisonReport report;
    report.results = std::move(results);
    rank_results(report);
    return report;
}

TEST_CASE("the summary of two results") {
    const auto report =
        report_of({{"telecom_backbone", 0.5, 12.345678, 0.8, {}}, {"hybrid_satellite_fiber", 0.91, 30.0, 0.8246, {}}});
    CHECK_EQ(report.recommended_topology, std::string("hybrid_satellite_fiber"));
    CHECK_EQ(report.summary, std::string("Evaluated 2 topologies. Recommended: hybrid_satellite_fiber. "
                                         "Best success rate: 91 (hybrid_satellite_fiber), Best latency: 12.35ms "
                                         "(telecom_backbone). Average fidelity: 0.8123."));
}

TEST_CASE("the success figure is truncated, and NaN or negative rates give 0") {
    CHECK(report_of({{"a", 0.29, 1.0, 0.0, {}}}).summary.find("Best success rate: 28 (a)") != std::string::npos);
    CHECK(report_of({{"a", NAN, NAN, NAN, {}}}).summary ==
          "Evaluated 1 topologies. Recommended: a. Best success rate: 0 (a), Best latency: NaNms (a). "
          "Average fidelity: NaN.");
    CHECK(report_of({{"a", -0.5, 1.0, 0.0, {}}}).summary.find("Best success rate: 0 (a)") != std::string::npos);
}

CHECK_MAIN()
