// What the parameters of methods and functions mean, by name, for those that do not say it where
// they are declared: the fields of the records whose values they pass, and the few others.
#pragma once

#include "python/toolkit/self_description.hpp"

namespace vorn::py {

const Glossary& parameter_glossary();

}  // namespace vorn::py
