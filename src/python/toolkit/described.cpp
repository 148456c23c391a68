#include "python/toolkit/described.hpp"

#include <deque>

namespace vorn::py {

std::string repr_text(PyObject* value) {
    Ref owned = Ref::steal(value);
    Ref text = owned ? Ref::steal(PyObject_Repr(owned.get())) : Ref();
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return {};
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

void add_described_parameter(Signature& signature, std::string_view name, describe::Parameter role) {
    // Parameter names live as long as the signatures that point at them: the process.
    static std::deque<std::string> names;
    std::string text(name);
    Ref key = Ref::steal(PyUnicode_InternFromString(text.c_str()));
    if (!key) throw ErrorAlreadySet{};
    names.push_back(std::move(text));
    signature.parameters.push_back(
        {names.back().c_str(), role == describe::kRequired, KeptRef(std::move(key)), role == describe::kKeywordOnly});
}

}  // namespace vorn::py
