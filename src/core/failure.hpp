// The two ways core code leaves a call other than by returning a value.
#pragma once

#include <stdexcept>

namespace vorn {

// A broken invariant of the library; the Python layer turns it into PanicException.
class Panic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Long loops poll this every few milliseconds; a true answer ends the call with Interrupted.
class Interruption {
public:
    virtual ~Interruption() = default;
    virtual bool requested() = 0;
};

// Thrown when an Interruption asked to stop; whoever asked already knows why.
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "interrupted"; }
};

}  // namespace vorn
