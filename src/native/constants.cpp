#include <iterator>

#include "core/network_records.hpp"
#include "core/physics/report.hpp"
#include "files/vorn_bridge.hpp"
#include "native/functions.hpp"

namespace vorn::native {

bool add_constants(PyObject* module) noexcept {
    static constexpr std::pair<const char*, double> kConstants[] = {
        {"FIBRE_SPEED_KM_MS", kFibreSpeedKmMs},
        {"FIBRE_LOSS_DB_KM", kFibreLossDbKm},
        {"MS_PER_SECOND", kMsPerSecond},
        {"LOSS_PER_PURIFY_FACTOR", kLossPerPurifyFactor},
        {"RECORD_PURIFY_FACTOR", kRecordPurifyFactor},
        {"ENGINE_PURIFY_FACTOR", kEnginePurifyFactor},
        {"CUTOFF_MS", kCutoffMs},
        {"STEP_MS", kStepMs},
        {"FILE_MS_PER_ATTEMPT", files::kMsPerAttempt},
        {"FILE_SECTION_PURIFY_FACTOR", files::kSectionPurifyFactor},
        {"FILE_NODE_LIFETIME_S", files::kNodeLifetimeS},
        {"NORMAL_QUANTILE_95", physics::kNormalQuantile95},
    };
    for (const auto& [name, value] : kConstants) {
        py::Ref number = py::Ref::steal(PyFloat_FromDouble(value));
        if (!number || PyModule_AddObjectRef(module, name, number.get()) < 0) return false;
    }
    py::Ref levels = py::Ref::steal(PyTuple_New(std::size(physics::kWaitingTimeQuantiles)));
    if (!levels) return false;
    for (std::size_t k = 0; k < std::size(physics::kWaitingTimeQuantiles); ++k) {
        PyObject* level = PyFloat_FromDouble(physics::kWaitingTimeQuantiles[k]);
        if (!level) return false;
        PyTuple_SetItem(levels.get(), static_cast<Py_ssize_t>(k), level);
    }
    return PyModule_AddObjectRef(module, "WAITING_TIME_QUANTILES", levels.get()) == 0;
}

}  // namespace vorn::native
