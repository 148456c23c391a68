// The ways core code leaves a call other than by returning a value.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace vorn {

// A broken invariant of the library; the Python layer turns it into PanicException.
class Panic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value of the right type that an operation refuses, such as an unknown name. The message is
// kept whole: it quotes the caller's text, which may hold NUL characters.
class InvalidValue : public std::exception {
public:
    explicit InvalidValue(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
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
