#include "python/toolkit/class_table.hpp"

namespace vorn::py {

PyObject* field_getter(PyObject* self, void* closure) noexcept { return static_cast<FieldAccess*>(closure)->get(self); }

int field_setter(PyObject* self, PyObject* value, void* closure) noexcept {
    return static_cast<FieldAccess*>(closure)->set(self, value);
}

std::vector<ClassInfo>& class_infos() {
    static std::vector<ClassInfo> list;
    return list;
}

std::vector<FunctionInfo>& function_infos() {
    static std::vector<FunctionInfo> list;
    return list;
}

bool check_state_keys(PyObject* self, PyObject* state,
                      const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept {
    return guarded(
        [&] {
            std::string missing, unknown;
            auto add = [](std::string& list, PyObject* name) {
                Ref text = Ref::steal(PyObject_Repr(name));
                Py_ssize_t size = 0;
                const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
                if (!utf8) throw ErrorAlreadySet{};
                list += (list.empty() ? "" : ", ") + std::string(utf8, static_cast<std::size_t>(size));
            };
            std::size_t missing_count = 0, unknown_count = 0;
            for (const auto& [name, field] : fields) {
                int present = PyDict_Contains(state, name.get());
                if (present < 0) throw ErrorAlreadySet{};
                if (!present) add(missing, name.get()), ++missing_count;
            }
            Py_ssize_t position = 0;
            PyObject *key = nullptr, *value = nullptr;
            while (PyDict_Next(state, &position, &key, &value)) {
                bool known = false;
                for (const auto& entry : fields) {
                    int same = PyUnicode_Check(key) ? PyObject_RichCompareBool(key, entry.first.get(), Py_EQ) : 0;
                    if (same < 0) throw ErrorAlreadySet{};
                    known = known || same;
                }
                if (!known) add(unknown, key), ++unknown_count;
            }
            if (missing.empty() && unknown.empty()) return true;
            std::string message = type_name(Py_TYPE(self)) + " state:";
            if (!missing.empty()) message += std::string(" missing field") + (missing_count > 1 ? "s " : " ") + missing;
            if (!missing.empty() && !unknown.empty()) message += ";";
            if (!unknown.empty()) message += std::string(" unknown field") + (unknown_count > 1 ? "s " : " ") + unknown;
            set_error(PyExc_ValueError, message);
            return false;
        },
        false);
}

std::vector<DescribedItem::Reading> readings_of(const describe::Readings& readings) {
    std::vector<DescribedItem::Reading> items;
    for (const describe::Reading& reading : readings)
        items.push_back(
            {std::string(describe::member_name(reading.computation)), std::string(reading.how), reading.strategies});
    return items;
}

std::string field_sentence(std::string_view meaning, std::string_view unit) {
    std::string text(meaning);
    if (!unit.empty()) text += ", in " + std::string(unit);
    return text + ".";
}

namespace {

// The fields' values as a tuple (their reads); nullptr with an error set.
Ref fields_tuple(PyObject* self, const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
    if (!tuple) return {};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        PyObject* value = fields[i].second->get(self);
        if (!value) return {};
        PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), value);  // steals
    }
    return tuple;
}

}  // namespace

PyObject* fields_repr(PyObject* self, const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept {
    return guarded(
        [&]() -> PyObject* {
            Ref values = fields_tuple(self, fields);
            if (!values) return nullptr;
            std::string text = type_name(Py_TYPE(self)) + "(";
            for (std::size_t i = 0; i < fields.size(); ++i) {
                Ref shown = Ref::steal(PyObject_Repr(PyTuple_GetItem(values.get(), static_cast<Py_ssize_t>(i))));
                std::string name, value;
                if (!shown || !Convert<std::string>::from(fields[i].first.get(), name) ||
                    !Convert<std::string>::from(shown.get(), value))
                    return nullptr;
                text += (i > 0 ? ", " : "") + name + "=" + value;
            }
            return Convert<std::string>::to(text + ")");
        },
        static_cast<PyObject*>(nullptr));
}

Py_hash_t fields_hash(PyObject* self, const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept {
    Ref values = fields_tuple(self, fields);
    return values ? PyObject_Hash(values.get()) : -1;
}

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

}  // namespace vorn::py
