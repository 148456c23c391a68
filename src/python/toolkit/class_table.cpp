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

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

}  // namespace vorn::py
