#include "python/toolkit/arguments.hpp"

#include <utility>

namespace vorn::py {

std::string Signature::text(bool method) const {
    std::string out = method ? "($self" : "(";
    bool first = !method;
    bool star = false;
    for (const auto& parameter : parameters) {
        if (!first) out += ", ";
        first = false;
        if (parameter.keyword_only && !std::exchange(star, true)) out += "*, ";
        out += parameter.name;
        if (!parameter.required) out += "=None";
    }
    return out + ")";
}

std::size_t Signature::positional() const {
    std::size_t count = 0;
    while (count < parameters.size() && !parameters[count].keyword_only) ++count;
    return count;
}

std::vector<DescribedItem> parameter_items(const Signature& signature, const Params& names,
                                           const std::vector<std::string>& types) {
    std::vector<DescribedItem> items;
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        const Parameter& parameter = signature.parameters[i];
        DescribedItem item{parameter.name,
                           types[i],
                           types[i],
                           names[i].meaning ? names[i].meaning : "",
                           names[i].unit ? names[i].unit : "",
                           !parameter.required,
                           {},
                           parameter.keyword_only};
        if (item.optional && !item.write_type.ends_with(" | None")) item.read_type = item.write_type += " | None";
        items.push_back(std::move(item));
    }
    return items;
}

namespace {

bool fail(const std::string& message) {
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

bool check_positional(const Signature& signature, std::size_t given) {
    std::size_t total = signature.positional();
    if (given <= total) return true;
    std::size_t required = 0;
    for (std::size_t i = 0; i < total; ++i) required += signature.parameters[i].required;
    std::string takes =
        required == total ? std::to_string(total) : "from " + std::to_string(required) + " to " + std::to_string(total);
    return fail(signature.callable + " takes " + takes + " positional arguments but " + std::to_string(given) +
                (given == 1 ? " was" : " were") + " given");
}

// Names are compared as Python strings (interned names match by identity), never as C strings:
// a keyword holding a NUL or a lone surrogate matches no parameter and is reported whole.
std::size_t find_parameter(const Signature& signature, PyObject* name) {
    const auto& parameters = signature.parameters;
    for (std::size_t i = 0; i < parameters.size(); ++i)
        if (parameters[i].key.get() == name) return i;
    for (std::size_t i = 0; i < parameters.size(); ++i)
        if (PyUnicode_Compare(name, parameters[i].key.get()) == 0) return i;
    return parameters.size();
}

bool bind_keyword(const Signature& signature, PyObject* name, PyObject* value, std::size_t positional,
                  PyObject** slots) {
    if (!PyUnicode_Check(name)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return false;
    }
    std::size_t index = find_parameter(signature, name);
    if (index == signature.parameters.size()) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", signature.callable.c_str(), name);
        return false;
    }
    if (index < positional || slots[index]) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", signature.callable.c_str(),
                     signature.parameters[index].name);
        return false;
    }
    slots[index] = value;
    return true;
}

bool check_missing(const Signature& signature, PyObject** slots) {
    bool complete = true;
    for (std::size_t i = 0; i < signature.parameters.size() && complete; ++i)
        complete = slots[i] || !signature.parameters[i].required;
    if (complete) return true;
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < signature.parameters.size(); ++i)
        if (!slots[i] && signature.parameters[i].required) missing.push_back(signature.parameters[i].name);
    return fail(signature.callable + " missing " + std::to_string(missing.size()) + " required positional " +
                (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing));
}

}  // namespace

bool bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) noexcept {
    return guarded(
        [&] {
            auto given = static_cast<std::size_t>(nargs);
            if (!check_positional(signature, given)) return false;
            for (std::size_t i = 0; i < given; ++i) slots[i] = args[i];
            Py_ssize_t keywords = kwnames ? PyTuple_Size(kwnames) : 0;
            for (Py_ssize_t k = 0; k < keywords; ++k)
                if (!bind_keyword(signature, PyTuple_GetItem(kwnames, k), args[nargs + k], given, slots)) return false;
            return check_missing(signature, slots);
        },
        false);
}

bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) noexcept {
    return guarded(
        [&] {
            Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
            auto given = static_cast<std::size_t>(nargs);
            if (!check_positional(signature, given)) return false;
            for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
            Py_ssize_t position = 0;
            PyObject *name = nullptr, *value = nullptr;
            while (kwargs && PyDict_Next(kwargs, &position, &name, &value))
                if (!bind_keyword(signature, name, value, given, slots)) return false;
            return check_missing(signature, slots);
        },
        false);
}

}  // namespace vorn::py
