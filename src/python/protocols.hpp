// Python classes of the protocols (key distribution, teleportation, distributed computation), their
// module functions and the engine methods that run them.
#pragma once

#include "core/protocols/distributed.hpp"
#include "core/protocols/qkd.hpp"
#include "core/protocols/teleportation.hpp"
#include "python/classes.hpp"

namespace vorn::py {

VORN_PYTHON_CLASS(vorn::QKDParameters, "QKDParameters");
VORN_PYTHON_CLASS(vorn::QKDResult, "QKDResult");
VORN_PYTHON_CLASS(vorn::QKDStats, "QKDStats");
VORN_PYTHON_CLASS(vorn::TeleportationParameters, "TeleportationParameters");
VORN_PYTHON_CLASS(vorn::TeleportationOutcome, "TeleportationOutcome");
VORN_PYTHON_CLASS(vorn::TeleportationStats, "TeleportationStats");
VORN_PYTHON_CLASS(vorn::BasisType, "BasisType");
VORN_PYTHON_CLASS(vorn::CoordinationTopology, "CoordinationTopology");
VORN_PYTHON_CLASS(vorn::MeasurementBasis, "MeasurementBasis");
VORN_PYTHON_CLASS(vorn::DistributedComputingParameters, "DistributedComputingParameters");
VORN_PYTHON_CLASS(vorn::PartyOutcome, "PartyOutcome");
VORN_PYTHON_CLASS(vorn::DistributedComputingResult, "DistributedComputingResult");
VORN_PYTHON_CLASS(vorn::DistributedComputingStats, "DistributedComputingStats");

// The protocols' piece of the engine's class: run_qkd, execute_teleportation, run_distributed_computation.
void describe_engine_protocol_methods(ClassTable<Engine>& table);

// Module functions, in the order they are registered.
PyMethodDef qkd_function();
PyMethodDef teleportation_function();
PyMethodDef distributed_computation_function();

}  // namespace vorn::py
