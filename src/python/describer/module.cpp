// _vorn_describe: a build-time module holding vorn_core's class tables, for tools/generate-stubs.
// It builds every class and function as vorn_core does and returns what each says of itself; it is
// never installed.
#include "python/glossary.hpp"
#include "python/registry.hpp"
#include "python/toolkit/dict_builder.hpp"

namespace vorn::py {

namespace {

Ref item_dict(const DescribedItem& item) {
    std::string meaning = item.meaning, unit = item.unit;
    if (meaning.empty()) {
        const auto& glossary = parameter_glossary();
        if (auto found = glossary.find(item.name); found != glossary.end()) std::tie(meaning, unit) = found->second;
    }
    return DictBuilder()
        .set("name", item.name)
        .set("read_type", item.read_type)
        .set("write_type", item.write_type)
        .set("meaning", meaning)
        .set("unit", unit)
        .set("optional", item.optional)
        .set("default", item.default_text)
        .take();
}

std::vector<Ref> item_dicts(const std::vector<DescribedItem>& items) {
    std::vector<Ref> dicts;
    for (const DescribedItem& item : items) dicts.push_back(item_dict(item));
    return dicts;
}

Ref function_dict(const FunctionInfo& function) {
    return DictBuilder()
        .set("name", function.name)
        .set("parameters", item_dicts(function.parameters))
        .set("returns", function.returns)
        .set("doc", function.doc)
        .set("static", function.is_static)
        .take();
}

Ref class_dict(const ClassInfo& info) {
    std::vector<Ref> methods, members;
    for (const FunctionInfo& method : info.methods) methods.push_back(function_dict(method));
    for (const auto& [name, meaning] : info.members)
        members.push_back(DictBuilder().set("name", name).set("meaning", meaning).take());
    return DictBuilder()
        .set("name", info.name)
        .set("constructible", info.constructible)
        .set("text_signature", info.text_signature)
        .set("constructor", item_dicts(info.constructor))
        .set("fields", item_dicts(info.fields))
        .set("methods", methods)
        .set("members", members)
        .set("enumeration", info.enumeration)
        .set("equality", info.equality)
        .take();
}

// {"order": [registered names], "aliases": {alias: original}, "classes": [...], "functions": [...]}
Ref describe_module() {
    std::vector<std::string> order;
    DictBuilder aliases;
    for (const Registration& entry : registrations()) {
        if (entry.type && !entry.type()) throw ErrorAlreadySet{};
        order.push_back(entry.function ? entry.function->ml_name : entry.name);
        if (entry.alias_of) aliases.set(entry.name, std::string(entry.alias_of));
    }
    if (!build_unregistered_classes()) throw ErrorAlreadySet{};
    std::vector<Ref> classes, functions;
    for (const ClassInfo& info : class_infos()) classes.push_back(class_dict(info));
    for (const FunctionInfo& function : function_infos()) functions.push_back(function_dict(function));
    return DictBuilder()
        .set("order", order)
        .set("aliases", aliases.take())
        .set("classes", classes)
        .set("functions", functions)
        .take();
}

}  // namespace

}  // namespace vorn::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vorn_describe() {
    using namespace vorn::py;
    static PyMethodDef methods[2] = {};
    static PyModuleDef definition = {
        PyModuleDef_HEAD_INIT, "_vorn_describe", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};
    if (!guarded(
            [&] {
                methods[0] = module_function<&describe_module>("describe", {});
                return true;
            },
            false))
        return nullptr;
    return PyModule_Create(&definition);
}
