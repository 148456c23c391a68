// Lets long core loops notice Ctrl-C, and lets the companion's long work run without the interpreter
// lock (vorn_core's own calls always hold it).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/failure.hpp"
#include "python/toolkit/handle.hpp"

namespace vorn::py {

// While one lives, this thread runs without the interpreter lock, so that other threads and the main
// thread's signal handlers run. It takes the lock back when it ends, an exception leaving its scope
// included, so that the exception becomes a Python error with the lock held. One inside another
// changes nothing.
class ReleasedLock {
public:
    ReleasedLock() noexcept {
        if (current_) return;
        saved_ = PyEval_SaveThread();
        current_ = this;
    }
    ~ReleasedLock() {
        if (current_ != this) return;
        current_ = nullptr;
        PyEval_RestoreThread(saved_);
    }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

    // The one that released this thread's lock, if any.
    static ReleasedLock* current() noexcept { return current_; }

    // Runs pending signal handlers with the lock taken back for a moment; true when one raised.
    bool signal_raised() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_look_ < kLookInterval) return false;
        last_look_ = now;
        PyEval_RestoreThread(saved_);
        current_ = nullptr;  // a handler that calls work of its own releases the lock again
        const bool raised = PyErr_CheckSignals() != 0;
        current_ = this;
        saved_ = PyEval_SaveThread();
        return raised;
    }

private:
    // Taking the lock back waits for a thread that runs Python code to let it go (up to the switch
    // interval, 5 ms), so it is taken back far less often than core loops ask; Ctrl-C still ends a
    // call well within a quarter of a second.
    static constexpr std::chrono::milliseconds kLookInterval{50};
    static inline thread_local ReleasedLock* current_ = nullptr;
    PyThreadState* saved_ = nullptr;
    std::chrono::steady_clock::time_point last_look_ = std::chrono::steady_clock::now();
};

// Runs pending signal handlers; a handler that raised (KeyboardInterrupt) stops the loop and
// its exception is what the caller sees.
class SignalCheck final : public Interruption {
public:
    bool requested() override {
        ReleasedLock* released = ReleasedLock::current();
        return released ? released->signal_raised() : PyErr_CheckSignals() != 0;
    }
};

template <class T>
inline constexpr bool holds_python_v =
    std::is_same_v<T, Ref> || std::is_same_v<T, KeptRef> || std::is_same_v<T, PyObject*>;
template <class T>
inline constexpr bool holds_python_v<std::optional<T>> = holds_python_v<T>;
template <class T>
inline constexpr bool holds_python_v<std::vector<T>> = holds_python_v<T>;
template <class A, class B>
inline constexpr bool holds_python_v<std::pair<A, B>> = holds_python_v<A> || holds_python_v<B>;
template <class... T>
inline constexpr bool holds_python_v<std::tuple<T...>> = (holds_python_v<T> || ...);

// fn(args...) without the interpreter lock: work on C++ values that touches no Python object.
template <class Fn, class... Args>
decltype(auto) without_lock(Fn&& fn, Args&&... args) {
    static_assert(!(holds_python_v<std::decay_t<Args>> || ...), "work without the lock takes no Python object");
    static_assert(!holds_python_v<std::decay_t<std::invoke_result_t<Fn, Args...>>>,
                  "work without the lock makes no Python object");
    ReleasedLock released;
    return std::invoke(std::forward<Fn>(fn), std::forward<Args>(args)...);
}

}  // namespace vorn::py
