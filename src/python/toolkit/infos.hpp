// What each class table and module function says of itself for the generated stubs and the API
// reference: names, annotations, meanings and units, in table order. Filled as types are built.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vorn::py {

// A field or a parameter.
struct DescribedItem {
    std::string name;
    std::string read_type;   // the attribute's type as read, or the parameter's type
    std::string write_type;  // what assigning accepts
    std::string meaning;     // empty: the module's glossary gives it
    std::string unit;
    bool optional = false;      // a parameter "=None"
    std::string default_text;   // the value an omitted optional parameter leaves (a repr), if known
    bool keyword_only = false;  // a parameter after "*"
    // A field: the computations that read it (by member name) and what each does with it.
    struct Reading {
        std::string computation;
        std::string how;
        unsigned strategies = 0;  // route finding: bit s for each strategy of value s that reads it; 0: all
    };
    std::vector<Reading> readings;
};

struct FunctionInfo {
    std::string name;
    std::vector<DescribedItem> parameters;
    std::string returns;
    std::string doc;  // without the text signature
    bool is_static = false;
};

struct ClassInfo {
    std::string name;
    bool constructible = false;
    bool text_signature = true;
    std::vector<DescribedItem> constructor;
    std::vector<DescribedItem> fields;
    std::vector<FunctionInfo> methods;
    std::vector<std::pair<std::string, std::string>> members;  // enumeration members: name, meaning
    bool enumeration = false;
    bool equality = false;      // == and != compare values
    bool frozen = false;        // attributes read only (hashable with equality)
    bool subclassable = false;  // Python classes may derive from it
    std::string summary;        // what the class is, in one line
};

std::vector<ClassInfo>& class_infos();
std::vector<FunctionInfo>& function_infos();

}  // namespace vorn::py
