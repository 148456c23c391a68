// The companion's file functions: structured findings of a .vorn file and the format a JSON file
// looks like.
#pragma once

#include "python/toolkit/python.hpp"

namespace vorn::native {

PyMethodDef check_vorn_file_function();
PyMethodDef file_format_function();

}  // namespace vorn::native
