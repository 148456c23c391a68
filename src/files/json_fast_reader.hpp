// The quick way through a well-formed document: the same reading as read_json_into, for the
// documents it is sure of, without keeping what only a message would need.
#pragma once

#include "core/failure.hpp"
#include "files/json_schema.hpp"

namespace vorn::files {

class FileText;

// Reads `text` into `record` (default-constructed, of the format's root type) exactly as
// read_json_into would when it succeeds, and returns true. It gives up, returning false and leaving
// the record partly filled, on anything that read_json_into would refuse and on whatever it does not
// handle itself (an uninterpreted JSON value, nesting deeper than 100 levels, numbers near the
// limits of a double): the exact reader then reads the document again and names the problem. A
// stop asked for by `interruption` throws Interrupted.
bool read_json_fast(const JsonFormat& format, const FileText& text, void* record, Interruption* interruption);

}  // namespace vorn::files
