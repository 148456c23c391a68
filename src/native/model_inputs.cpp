// What vorn._native says of itself: its class tables, for the generated stubs and reference page, and which
// computation reads each input of vorn_core's entanglement model, for vorn.inputs. Both come from the
// descriptions of the records.
#include <type_traits>

#include "core/network_records.hpp"
#include "core/physics/model.hpp"
#include "core/request.hpp"
#include "native/functions.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/self_description.hpp"

namespace vorn::native {
namespace {

template <describe::Described T>
void add_inputs(std::vector<py::Ref>& inputs, const char* record, const char* python_class) {
    describe::for_each_field<T>([&](const auto& field) {
        using F = std::decay_t<decltype(field)>;
        // The configuration's physical constants are listed as the configuration's own inputs.
        if constexpr (!std::is_same_v<typename F::Type, PhysicalConfig>) {
            py::DescribedItem item{
                std::string(field.name), {}, {}, std::string(field.meaning), std::string(field.unit)};
            item.readings = py::readings_of(field.readings);
            py::Ref entry = py::item_dict(item, {});
            py::Ref where = py::Ref::steal(PyUnicode_FromString(record));
            py::Ref owner = py::Ref::steal(PyUnicode_FromString(python_class));
            if (!where || !owner || PyDict_SetItemString(entry.get(), "record", where.get()) < 0 ||
                PyDict_SetItemString(entry.get(), "class", owner.get()) < 0)
                throw py::ErrorAlreadySet{};
            inputs.push_back(std::move(entry));
        }
    });
}

std::vector<py::Ref> model_inputs() {
    std::vector<py::Ref> inputs;
    add_inputs<NodeDefinition>(inputs, "node", "NodeDefinition");
    add_inputs<LinkDefinition>(inputs, "link", "LinkDefinition");
    add_inputs<PhysicalConfig>(inputs, "config", "PhysicalConfig");
    add_inputs<SimulationConfig>(inputs, "config", "SimulationConfig");
    add_inputs<EntanglementRequest>(inputs, "request", "EntanglementRequest");
    add_inputs<physics::PhysicalModel>(inputs, "model", "PhysicalModel");
    return inputs;
}

py::Ref class_tables() { return py::describe_module(functions(), {}); }

}  // namespace

PyMethodDef model_inputs_function() {
    return py::module_function<&model_inputs>(
        "model_inputs", {},
        "Every field of the records that carry an input of vorn_core's entanglement model (node, link, config,\n"
        "request) or a parameter of the physical model, with its record and class, its unit, its meaning and the\n"
        "computations that read it (route finding under which strategies, the timeline, the physical model) and how.");
}

PyMethodDef class_tables_function() {
    return py::module_function<&class_tables>(
        "class_tables", {}, "What this module's classes and functions say of themselves, for tools/generate-stubs.");
}

}  // namespace vorn::native
