// The physical model's records as classes of vorn._native, built from their descriptions (constructor,
// attributes, pickling, equality, repr); vorn.physics gives them their public names.
#pragma once

#include "core/physics/report.hpp"
#include "python/toolkit/class_table.hpp"

namespace vorn::py {

VORN_PYTHON_CLASS_IN("vorn._native", physics::PhysicalModel, "PhysicalModel");
VORN_PYTHON_CLASS_IN("vorn._native", physics::HopReport, "Hop");
VORN_PYTHON_CLASS_IN("vorn._native", physics::RouteReport, "Route");
VORN_PYTHON_CLASS_IN("vorn._native", physics::EnsembleReport, "PhysicsStats");

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
