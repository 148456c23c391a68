// The diff of two .vorn files as structured data: every change vorn_core's diff finds, with the old
// and new values of the sections that its report text shows only in part.
#pragma once

#include "python/toolkit/python.hpp"

namespace vorn::native {

PyMethodDef diff_vorn_files_function();

}  // namespace vorn::native
