// What the parameters of methods and functions mean, by name, for those that do not say it where
// they are declared: the fields of the records whose values they pass, and the few others.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace vorn::py {

// name -> (meaning, unit)
const std::map<std::string, std::pair<std::string, std::string>>& parameter_glossary();

}  // namespace vorn::py
