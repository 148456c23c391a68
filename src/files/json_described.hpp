// A JSON format's schema tables produced from the record descriptions: one row per described field,
// keyed by the field's name in the format's style, so that no field of a record can enter a format
// without its row, nor a row drift from its field. A format only says how it names things and where
// it departs from the plain rule:
//
//     JsonSchema schema(KeyStyle::Snake, Spelling::Lower);
//     schema.table<VornNode>("a node");
//     schema.table<VornLink>("a link", {.keys = {{"src", "from"}}});
//     const JsonRecord& root = schema.table<VornFile>("the document");
//
// "Optional" means the same as in the description: a field that a caller may leave out (an optional or
// keyword-only parameter) is an optional key, and a file without it reads as the record's default; every
// other field is a required key. A keyword-only field, one added after the format was fixed, is written only
// where it departs from its default, so that records that do not use it are written as before. A format
// whose keys were fixed otherwise says so for each such field, with its reason. A record inside a record
// is read and written by the table this schema made for its type, which must come first. Tables live as
// long as the schema.
#pragma once

#include <algorithm>
#include <concepts>
#include <deque>
#include <initializer_list>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/failure.hpp"
#include "describe/record.hpp"
#include "files/json_schema.hpp"

namespace vorn::files {

enum class KeyStyle : bool { Snake, Camel };    // a key is the field's name, or its camelCase form
enum class Spelling : bool { AsNamed, Lower };  // an enumerator is spelt as named, or in lower case

// Where one record's table departs from the plain rule.
struct TableRules {
    std::vector<std::pair<std::string_view, std::string_view>> keys = {};  // field name -> key
    // Fields whose description lets a caller omit them but whose key the format requires, and the other
    // way round: each is an exception that the format fixed before the rule, kept as it is.
    std::vector<std::string_view> required = {};
    std::vector<std::string_view> optional = {};
    std::vector<std::string_view> order = {};  // the fields in key order, when it differs from the description's
};

class JsonSchema {
public:
    JsonSchema(KeyStyle keys, Spelling spelling) : keys_(keys), spelling_(spelling) {}
    JsonSchema(const JsonSchema&) = delete;
    JsonSchema& operator=(const JsonSchema&) = delete;

    template <describe::Described T>
    const JsonRecord& table(std::string_view what, TableRules rules = {}) {
        std::vector<JsonField> rows;
        std::vector<std::string_view> names;
        describe::for_each_field<T>([&](const auto& field) {
            rows.push_back(row<T>(field, rules));
            names.push_back(field.name);
        });
        if (!rules.order.empty()) rows = reordered(rows, names, rules.order);
        if (rows.size() > 64) throw Panic("a record has at most 64 fields");
        std::uint64_t required = 0;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].presence == Presence::Required) required |= std::uint64_t{1} << i;
        auto& stored = rows_.emplace_back(std::move(rows));
        auto& record = records_.emplace_back(JsonRecord{keep(what), stored, json_detail::type_tag<T>(),
                                                        [](void* r) { *static_cast<T*>(r) = T{}; }, required});
        tables_[record.type] = &record;
        return record;
    }

private:
    template <class T, class F>
    JsonField row(const F& field, const TableRules& rules) {
        using A = json_detail::AccessOf<T, F>;
        std::string_view key = key_of(field.name, rules);
        bool optional = describe::may_be_omitted(field.parameter);
        if (listed(rules.required, field.name)) {
            if (!optional) throw Panic("a table lists as required a key that its description requires already");
            optional = false;
        } else if (listed(rules.optional, field.name)) {
            if (optional) throw Panic("a table lists as optional a key that its description leaves optional already");
            optional = true;
        }
        JsonField f = A::field(key, optional ? Presence::Optional : Presence::Required);
        if constexpr (!A::kOptional && std::equality_comparable<typename A::Stored>)
            if (field.parameter == describe::kKeywordOnly) f.at_default = &A::at_default;
        if constexpr (A::kKind == JsonKind::Enumeration) f.spellings = spellings<typename A::Value>();
        if constexpr (A::kKind == JsonKind::Record || A::kKind == JsonKind::RecordList) {
            auto found = tables_.find(f.inner);
            if (found == tables_.end()) throw Panic("a record's table must come before the tables that hold it");
            f.table = found->second;
        }
        return f;
    }

    static bool listed(const std::vector<std::string_view>& names, std::string_view name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    std::string_view key_of(std::string_view name, const TableRules& rules) {
        for (const auto& [field, key] : rules.keys)
            if (field == name) return key;
        if (keys_ == KeyStyle::Snake) return name;
        std::string camel;
        bool upper = false;
        for (char c : name) {
            if (c == '_') {
                upper = true;
                continue;
            }
            camel += upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            upper = false;
        }
        return keep(std::move(camel));
    }

    template <class E>
    std::span<const std::string_view> spellings() {
        std::vector<std::string_view> spelt;
        for (const auto& member : describe::description_of<E>().members) {
            if (static_cast<std::size_t>(member.value) != spelt.size())
                throw Panic("an enumeration's members must be described in the order of their values");
            std::string text(member.name);
            if (spelling_ == Spelling::Lower)
                for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            spelt.push_back(keep(std::move(text)));
        }
        return spellings_.emplace_back(std::move(spelt));
    }

    // Every field exactly once, in `order`.
    static std::vector<JsonField> reordered(const std::vector<JsonField>& rows,
                                            const std::vector<std::string_view>& names,
                                            const std::vector<std::string_view>& order) {
        if (order.size() != names.size()) throw Panic("a table's order must name every field once");
        std::vector<JsonField> result;
        std::vector<bool> used(names.size());
        for (std::string_view name : order) {
            auto at = std::find(names.begin(), names.end(), name);
            if (at == names.end()) throw Panic("a table's order names a field the record does not have");
            const auto index = static_cast<std::size_t>(at - names.begin());
            if (used[index]) throw Panic("a table's order names a field twice");
            used[index] = true;
            result.push_back(rows[index]);
        }
        return result;
    }

    std::string_view keep(std::string_view text) { return texts_.emplace_back(text); }

    KeyStyle keys_;
    Spelling spelling_;
    std::deque<std::string> texts_;
    std::deque<std::vector<JsonField>> rows_;
    std::deque<std::vector<std::string_view>> spellings_;
    std::deque<JsonRecord> records_;
    std::map<const void*, const JsonRecord*> tables_;
};

}  // namespace vorn::files
