#include "python/toolkit/arguments.hpp"

#include <cstring>

namespace vorn::py {

std::string Signature::text(bool method) const {
    std::string out = method ? "($self" : "(";
    bool first = !method;
    for (const auto& parameter : parameters) {
        if (!first) out += ", ";
        first = false;
        out += parameter.name;
        if (!parameter.required) out += "=None";
    }
    return out + ")";
}

namespace {

bool fail(const std::string& message) noexcept {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
}

std::string quoted_list(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'" + std::string(names[i]) + "'";
    }
    return out;
}

bool too_many_positional(const Signature& signature, std::size_t given) {
    std::size_t required = 0;
    for (const auto& parameter : signature.parameters) required += parameter.required;
    std::size_t total = signature.parameters.size();
    std::string takes = required == total ? std::to_string(total)
                                          : "from " + std::to_string(required) + " to " + std::to_string(total);
    return fail(signature.callable + " takes " + takes + " positional arguments but " + std::to_string(given) +
                (given == 1 ? " was" : " were") + " given");
}

bool bind_keywords(const Signature& signature, PyObject* kwargs, std::size_t positional, PyObject** slots) {
    Py_ssize_t position = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        Py_ssize_t size = 0;
        const char* name = PyUnicode_AsUTF8AndSize(key, &size);
        if (!name) return false;
        std::size_t index = 0;
        while (index < signature.parameters.size() && std::strcmp(signature.parameters[index].name, name) != 0)
            ++index;
        if (index == signature.parameters.size())
            return fail(signature.callable + " got an unexpected keyword argument '" + name + "'");
        if (index < positional || slots[index])
            return fail(signature.callable + " got multiple values for argument '" + name + "'");
        slots[index] = value;
    }
    return true;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) noexcept {
    try {
        std::size_t given = args ? static_cast<std::size_t>(PyTuple_Size(args)) : 0;
        if (given > signature.parameters.size()) return too_many_positional(signature, given);
        for (std::size_t i = 0; i < given; ++i) slots[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
        if (kwargs && !bind_keywords(signature, kwargs, given, slots)) return false;
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < signature.parameters.size(); ++i)
            if (!slots[i] && signature.parameters[i].required) missing.push_back(signature.parameters[i].name);
        if (missing.empty()) return true;
        return fail(signature.callable + " missing " + std::to_string(missing.size()) + " required positional " +
                    (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing));
    } catch (...) {
        translate_current_exception();
        return false;
    }
}

}  // namespace vorn::py
