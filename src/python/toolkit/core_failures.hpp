// How core's ways out of a call other than by returning a value reach Python, for every module
// built on core.
#pragma once

namespace vorn::py {

// Registers the translator of core's failures (Interrupted, InvalidValue, Panic) with the toolkit.
void translate_core_failures();

}  // namespace vorn::py
