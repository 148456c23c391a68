// Included by the .cpp files of this directory only, before anything else from RapidJSON, so that
// every use of the library sees the same assertion: a broken internal expectation becomes an
// exception that the caller turns into an error value instead of aborting the host process.
#pragma once

#include <stdexcept>

namespace vorn::files::detail {
[[noreturn]] inline void rapidjson_assertion_failed(const char* condition) {
    throw std::logic_error(std::string("JSON library assertion failed: ") + condition);
}
}  // namespace vorn::files::detail

#define RAPIDJSON_ASSERT(x) ((x) ? static_cast<void>(0) : ::vorn::files::detail::rapidjson_assertion_failed(#x))

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
