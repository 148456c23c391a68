// Included by the .cpp files of this directory only, before anything else from RapidJSON, so that
// every use of the library sees the same assertion: a broken internal expectation is a Panic, which
// reaches the caller as such instead of aborting the host process.
#pragma once

#include <string>

#include "core/failure.hpp"

namespace vorn::files::detail {
[[noreturn]] inline void rapidjson_assertion_failed(const char* condition) {
    throw Panic(std::string("JSON library assertion failed: ") + condition);
}
}  // namespace vorn::files::detail

#define RAPIDJSON_ASSERT(x) ((x) ? static_cast<void>(0) : ::vorn::files::detail::rapidjson_assertion_failed(#x))

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
