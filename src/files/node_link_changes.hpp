// What two networks differ in node by node and link by link: the lists that the diffs of both file
// formats report.
#pragma once

#include <string>
#include <vector>

namespace vorn::files {

// Node ids and link keys ("from->to"). Each list follows the first network's order of first
// appearance, then the second's, so the same two networks always give the same report.
struct NodeLinkChanges {
    std::vector<std::string> nodes_added;
    std::vector<std::string> nodes_removed;
    std::vector<std::string> nodes_modified;
    std::vector<std::string> links_added;
    std::vector<std::string> links_removed;
    std::vector<std::string> links_modified;
};

}  // namespace vorn::files
