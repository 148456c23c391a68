#include "core/network.hpp"
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
    };
    for (const auto& [name, value] : kConstants) {
        py::Ref number = py::Ref::steal(PyFloat_FromDouble(value));
        if (!number || PyModule_AddObjectRef(module, name, number.get()) < 0) return false;
    }
    return true;
}

}  // namespace vorn::native
