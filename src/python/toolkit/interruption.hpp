// Lets long core loops notice Ctrl-C while the interpreter lock is held.
#pragma once

#include "core/failure.hpp"
#include "python/toolkit/python.hpp"

namespace vorn::py {

// Runs pending signal handlers; a handler that raised (KeyboardInterrupt) stops the loop and
// its exception is what the caller sees.
class SignalCheck final : public Interruption {
public:
    bool requested() override { return PyErr_CheckSignals() != 0; }
};

}  // namespace vorn::py
