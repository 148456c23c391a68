// Dropping a large value off the caller's thread: what a read builds from a file of gigabytes takes a
// good fraction of a second to free, and a read stopped by Ctrl-C should answer before that.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace vorn::files {

template <class T>
void discard_later(T&& value) noexcept {
    try {
        std::thread([doomed = std::move(value)]() mutable { T(std::move(doomed)); }).detach();
    } catch (const std::system_error&) {  // no thread to be had: freed here after all
    }
}

}  // namespace vorn::files
