#include "python/toolkit/self_description.hpp"

#include "python/toolkit/dict_builder.hpp"

namespace vorn::py {

namespace {

std::vector<Ref> item_dicts(const std::vector<DescribedItem>& items, const Glossary& glossary) {
    std::vector<Ref> dicts;
    for (const DescribedItem& item : items) dicts.push_back(item_dict(item, glossary));
    return dicts;
}

Ref function_dict(const FunctionInfo& function, const Glossary& glossary) {
    return DictBuilder()
        .set("name", function.name)
        .set("parameters", item_dicts(function.parameters, glossary))
        .set("returns", function.returns)
        .set("doc", function.doc)
        .set("static", function.is_static)
        .take();
}

}  // namespace

Ref item_dict(const DescribedItem& item, const Glossary& glossary) {
    std::string meaning = item.meaning, unit = item.unit;
    if (meaning.empty())
        if (auto found = glossary.find(item.name); found != glossary.end()) std::tie(meaning, unit) = found->second;
    std::vector<Ref> readings;
    for (const DescribedItem::Reading& reading : item.readings)
        readings.push_back(DictBuilder()
                               .set("computation", reading.computation)
                               .set("how", reading.how)
                               .set("strategies", static_cast<std::uint64_t>(reading.strategies))
                               .take());
    return DictBuilder()
        .set("name", item.name)
        .set("read_type", item.read_type)
        .set("write_type", item.write_type)
        .set("meaning", meaning)
        .set("unit", unit)
        .set("optional", item.optional)
        .set("default", item.default_text)
        .set("keyword_only", item.keyword_only)
        .set("readings", readings)
        .take();
}

Ref class_dict(const ClassInfo& info, const Glossary& glossary) {
    std::vector<Ref> methods, members;
    for (const FunctionInfo& method : info.methods) methods.push_back(function_dict(method, glossary));
    for (const auto& [name, meaning] : info.members)
        members.push_back(DictBuilder().set("name", name).set("meaning", meaning).take());
    return DictBuilder()
        .set("name", info.name)
        .set("summary", info.summary)
        .set("constructible", info.constructible)
        .set("text_signature", info.text_signature)
        .set("constructor", item_dicts(info.constructor, glossary))
        .set("fields", item_dicts(info.fields, glossary))
        .set("methods", methods)
        .set("members", members)
        .set("enumeration", info.enumeration)
        .set("equality", info.equality)
        .set("frozen", info.frozen)
        .set("subclassable", info.subclassable)
        .take();
}

Ref describe_module(const std::vector<Registration>& registrations, const Glossary& glossary, bool (*more)() noexcept) {
    std::vector<std::string> order;
    DictBuilder aliases;
    for (const Registration& entry : registrations) {
        if (entry.type && !entry.type()) throw ErrorAlreadySet{};
        order.push_back(entry.function ? entry.function->ml_name : entry.name);
        if (entry.alias_of) aliases.set(entry.name, std::string(entry.alias_of));
    }
    if (more && !more()) throw ErrorAlreadySet{};
    std::vector<Ref> classes, functions;
    for (const ClassInfo& info : class_infos()) classes.push_back(class_dict(info, glossary));
    for (const FunctionInfo& function : function_infos()) functions.push_back(function_dict(function, glossary));
    return DictBuilder()
        .set("order", order)
        .set("aliases", aliases.take())
        .set("classes", classes)
        .set("functions", functions)
        .take();
}

}  // namespace vorn::py
