#include "native/functions.hpp"

#include "native/physics.hpp"

namespace vorn::native {

const std::vector<py::Registration>& functions() {
    static const std::vector<py::Registration> list = [] {
        std::vector<py::Registration> all;
        for (auto& entry : physics_functions()) all.push_back(entry);
        return all;
    }();
    return list;
}

}  // namespace vorn::native
