// Every C++ type that has a Python class. Tables live in the source file of their area.
#pragma once

#include "core/engine.hpp"
#include "core/ensemble.hpp"
#include "core/network.hpp"
#include "core/request.hpp"
#include "python/toolkit/class_table.hpp"

namespace vorn::py {

VORN_PYTHON_CLASS(vorn::NodeDefinition, "NodeDefinition");
VORN_PYTHON_CLASS(vorn::LinkType, "LinkType");
VORN_PYTHON_CLASS(vorn::SatelliteConditions, "SatelliteConditions");
VORN_PYTHON_CLASS(vorn::LinkDefinition, "LinkDefinition");
VORN_PYTHON_CLASS(vorn::PhysicalConfig, "PhysicalConfig");
VORN_PYTHON_CLASS(vorn::SimulationConfig, "SimulationConfig");
VORN_PYTHON_CLASS(vorn::NetworkTopologyPayload, "NetworkTopologyPayload");
VORN_PYTHON_CLASS(vorn::StrategyType, "StrategyType");
VORN_PYTHON_CLASS(vorn::EntanglementRequest, "EntanglementRequest");
VORN_PYTHON_CLASS(vorn::SimulationResult, "SimulationResult");
VORN_PYTHON_CLASS(vorn::MonteCarloStats, "MonteCarloStats");
VORN_PYTHON_CLASS(vorn::MonteCarloContext, "PyMonteCarloContext");
VORN_PYTHON_CLASS(vorn::Engine, "VornEngine");

// The engine's class is composed by the module from the pieces of each area, in the order of its
// method table; this first piece gives the constructor, define_network, request_entanglement
// and simulate.
void describe_engine(ClassTable<Engine>& table);

}  // namespace vorn::py
