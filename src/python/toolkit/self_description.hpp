// What a module's classes and functions say of themselves (infos.hpp), as Python data: for the generated
// stubs and reference pages, and for the companion's table of model inputs.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "python/toolkit/registration.hpp"

namespace vorn::py {

// name -> (meaning, unit), for parameters that do not say what they mean where they are declared.
using Glossary = std::map<std::string, std::pair<std::string, std::string>>;

// {"name", "read_type", "write_type", "meaning", "unit", "optional", "default", "keyword_only", "readings"},
// each reading {"computation", "how", "strategies"}; the glossary fills a meaning the item lacks.
Ref item_dict(const DescribedItem& item, const Glossary& glossary);
Ref class_dict(const ClassInfo& info, const Glossary& glossary);

// {"order": [registered names], "aliases": {alias: original}, "classes": [...], "functions": [...]}: builds
// every registered class first, then runs `more` (which builds the classes handed out unregistered).
Ref describe_module(const std::vector<Registration>& registrations, const Glossary& glossary,
                    bool (*more)() noexcept = nullptr);

}  // namespace vorn::py
