// The physical model's records as classes of vorn._native, built from their descriptions (constructor,
// attributes, pickling, equality, repr); vorn.physics gives them their public names.
#pragma once

#include "core/physics/network_report.hpp"
#include "core/physics/report.hpp"
#include "python/toolkit/class_table.hpp"

namespace vorn::py {

VORN_PYTHON_CLASS_IN("vorn._native", physics::PhysicalModel, "PhysicalModel");
VORN_PYTHON_CLASS_IN("vorn._native", physics::HopReport, "Hop");
VORN_PYTHON_CLASS_IN("vorn._native", physics::RouteReport, "Route");
VORN_PYTHON_CLASS_IN("vorn._native", physics::EnsembleReport, "PhysicsStats");
VORN_PYTHON_CLASS_IN("vorn._native", physics::NetworkDemand, "Demand");
VORN_PYTHON_CLASS_IN("vorn._native", physics::DemandTally, "DemandRun");
VORN_PYTHON_CLASS_IN("vorn._native", physics::LinkTally, "LinkRun");
VORN_PYTHON_CLASS_IN("vorn._native", physics::NodeTally, "NodeRun");
VORN_PYTHON_CLASS_IN("vorn._native", physics::NetworkOutcome, "NetworkRun");
VORN_PYTHON_CLASS_IN("vorn._native", physics::NetworkRuns, "NetworkRuns");
VORN_PYTHON_CLASS_IN("vorn._native", physics::DemandReport, "DemandStats");
VORN_PYTHON_CLASS_IN("vorn._native", physics::LinkReport, "LinkStats");
VORN_PYTHON_CLASS_IN("vorn._native", physics::NodeReport, "NodeStats");
VORN_PYTHON_CLASS_IN("vorn._native", physics::NetworkReport, "NetworkStats");

// A Python int (non-negative) or inf.
template <>
struct Convert<physics::ExactUnits> {
    static bool from(PyObject* object, physics::ExactUnits& out) noexcept;
    static PyObject* to(const physics::ExactUnits& value) noexcept;
};

template <>
struct TypeText<physics::ExactUnits> {
    static std::string read() { return "int | float"; }
    static std::string write() { return "int | float"; }
};

}  // namespace vorn::py
