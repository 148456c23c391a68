#include "python/toolkit/core_failures.hpp"

#include "core/failure.hpp"
#include "python/toolkit/errors.hpp"

namespace vorn::py {

namespace {

bool translate_core_failure() noexcept {
    try {
        throw;
    } catch (const Interrupted&) {
        // The signal handler that asked for the stop has set its exception already.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return true;
    } catch (const InvalidValue& refusal) {
        set_error(PyExc_ValueError, refusal.message());
        return true;
    } catch (const Panic& panic) {
        raise_panic(panic.what());
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

void translate_core_failures() { add_translator(&translate_core_failure); }

}  // namespace vorn::py
