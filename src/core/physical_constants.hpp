// Physical constants, one home each (the companion reads them through vorn._native). Apart from the
// records, so that what uses a constant does not recompile when a record changes.
#pragma once

namespace vorn {

inline constexpr double kFibreSpeedKmMs = 200.0;  // a signal in fibre, classical ones too, km/ms
inline constexpr double kFibreLossDbKm = 0.2;     // telecom fibre at 1550 nm, dB/km
inline constexpr double kMsPerSecond = 1000.0;    // node definitions keep T2 in s, files and models in ms

}  // namespace vorn
