#include "native/functions.hpp"

#include "native/physics_records.hpp"

namespace vorn::native {
namespace {

py::Registration function(PyMethodDef (*describe)()) {
    // The interpreter keeps a pointer to the definition for the life of the function object.
    auto* definition = new PyMethodDef(describe());
    return {definition->ml_name, nullptr, definition};
}

}  // namespace

const std::vector<py::Registration>& functions() {
    static const std::vector<py::Registration> list = {
        py::register_class<physics::PhysicalModel>(),
        py::register_class<physics::HopReport>(),
        py::register_class<physics::RouteReport>(),
        py::register_class<physics::EnsembleReport>(),
        py::register_class<physics::NetworkDemand>(),
        py::register_class<physics::DemandTally>(),
        py::register_class<physics::LinkTally>(),
        py::register_class<physics::NodeTally>(),
        py::register_class<physics::NetworkOutcome>(),
        py::register_class<physics::NetworkRuns>(),
        py::register_class<physics::DemandReport>(),
        py::register_class<physics::LinkReport>(),
        py::register_class<physics::NodeReport>(),
        py::register_class<physics::NetworkReport>(),
        function(simulate_function),
        function(physics_route_function),
        function(physics_simulate_function),
        function(physics_trials_function),
        function(binary_entropy_function),
        function(secret_fraction_function),
        function(physics_network_function),
        function(physics_network_stats_function),
        function(check_vorn_file_function),
        function(file_format_function),
        function(engine_default_config_function),
        function(reference_network_function),
        function(load_network_function),
        function(file_network_function),
        function(vorn_file_function),
        function(definition_figures_function),
        function(check_figure_function),
        function(diff_vorn_files_function),
        function(route_search_estimate_function),
        function(replicate_seeds_function),
        function(model_inputs_function),
        function(class_tables_function),
    };
    return list;
}

}  // namespace vorn::native
