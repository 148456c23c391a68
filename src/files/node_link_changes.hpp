// What two networks differ in node by node and link by link: the lists that the diffs of both file
// formats report.
#pragma once

#include <string>
#include <vector>

#include "describe/record.hpp"

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

constexpr auto description(const NodeLinkChanges*) {
    using namespace describe;
    using C = NodeLinkChanges;
    return record<C>(field<&C::nodes_added>("nodes_added", "Ids of nodes only the second network has"),
                     field<&C::nodes_removed>("nodes_removed", "Ids of nodes only the first network has"),
                     field<&C::nodes_modified>("nodes_modified", "Ids of nodes whose fields differ"),
                     field<&C::links_added>("links_added", "Keys (\"from->to\") of links only the second has"),
                     field<&C::links_removed>("links_removed", "Keys of links only the first has"),
                     field<&C::links_modified>("links_modified", "Keys of links whose fields differ"));
}

}  // namespace vorn::files
