#include "native/functions.hpp"

namespace vorn::native {

const std::vector<py::Registration>& functions() {
    static const std::vector<py::Registration> list = {};
    return list;
}

}  // namespace vorn::native
