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

UntypedTable::UntypedTable(const char* module, const char* name)
    : name_(name), qualified_(std::string(module) + "." + name) {}

UntypedTable::~UntypedTable() = default;

void UntypedTable::set_constructor(newfunc make, PyCFunction reduce, const Signature& signature, bool text_signature) {
    if (text_signature) doc_ = name_ + signature.text(false) + "\n--\n\n";
    new_ = make;
    reduce_ = reduce;
    info_.constructible = true;
    info_.text_signature = text_signature;
}

void UntypedTable::add_field(std::unique_ptr<FieldAccess> access, std::string_view name, std::string_view meaning,
                             std::string_view unit, DescribedItem item) {
    accessors_.push_back(std::move(access));
    field_docs_.emplace_back(getset_.size(), keep(field_sentence(meaning, unit)));
    getset_.push_back({keep(std::string(name)), field_getter, field_setter, nullptr, accessors_.back().get()});
    info_.fields.push_back(std::move(item));
}

void UntypedTable::add_method(const char* name, PyCFunction entry, bool is_static, const Signature& signature,
                              const Params& names, const std::vector<std::string>& types, std::string returns,
                              const char* doc) {
    std::string text = name + signature.text(!is_static) + "\n--\n\n" + (doc ? doc : "");
    methods_.push_back({name, entry, fastcall_flags | (is_static ? METH_STATIC : 0), keep(std::move(text))});
    info_.methods.push_back(
        {name, parameter_items(signature, names, types), std::move(returns), doc ? doc : "", is_static});
}

void UntypedTable::add_member(std::string_view name, long long value, std::string_view meaning) {
    const char* kept = keep(std::string(name));
    members_.emplace_back(kept, value);
    info_.members.emplace_back(kept, std::string(meaning));
}

void UntypedTable::set_summary(const char* text) {
    summary_ = text;
    info_.summary = text;
}

void UntypedTable::set_frozen() {
    frozen_ = true;
    info_.frozen = true;
}

void UntypedTable::set_subclassable() {
    subclassable_ = true;
    info_.subclassable = true;
}

void UntypedTable::set_attribute_doc(const char* name, const char* doc) {
    for (PyGetSetDef& entry : getset_)
        if (std::string_view(entry.name) == name) entry.doc = doc;
}

DescribedItem UntypedTable::field_item(std::string_view name, Text read_type, Text write_type, std::string_view meaning,
                                       std::string_view unit, const describe::Readings& readings) {
    DescribedItem item{
        std::string(name), read_type(), write_type(), std::string(meaning), std::string(unit), false, {}};
    item.readings = readings_of(readings);
    return item;
}

DescribedItem UntypedTable::parameter_item(DescribedItem item, describe::Parameter role, Text default_text) {
    item.read_type = item.write_type;
    item.optional = describe::may_be_omitted(role);
    item.keyword_only = role == describe::kKeywordOnly;
    if (item.optional) {
        if (!item.write_type.ends_with(" | None")) item.read_type = item.write_type += " | None";
        item.default_text = default_text();
    }
    return item;
}

PyTypeObject* UntypedTable::build_type(const TypeEntries& entries) noexcept {
    if (!guarded(
            [&] {
                if (entries.enum_reduce) {
                    methods_.push_back({"__reduce__", entries.enum_reduce, METH_NOARGS,
                                        "Pickle and copy as the class attribute of this member's name."});
                } else if (reduce_ && !opaque_) {
                    methods_.push_back({"__reduce__", reduce_, METH_NOARGS, "Pickle and copy as the record's fields."});
                    methods_.push_back(
                        {"__setstate__", entries.set_state, METH_O, "Set the fields of a state that __reduce__ gave."});
                }
                return true;
            },
            false))
        return nullptr;
    if (!record_fields(*entries.fields)) return nullptr;
    if (frozen_)
        for (PyGetSetDef& entry : getset_) entry.set = nullptr;
    return guarded(
        [&]() -> PyTypeObject* {
            if (summary_) {
                doc_ += summary_;
                for (const auto& [index, doc] : field_docs_)
                    if (!getset_[index].doc) getset_[index].doc = doc;
            }
            getset_.push_back({});
            methods_.push_back({});
            std::vector<PyType_Slot> slots = {
                {Py_tp_new, reinterpret_cast<void*>(new_ ? new_ : refuse_construction)},
                {Py_tp_dealloc, reinterpret_cast<void*>(entries.dealloc)},
                {Py_tp_getset, getset_.data()},
                {Py_tp_methods, methods_.data()},
                {Py_tp_doc, const_cast<char*>(doc_.c_str())},
            };
            if (repr_) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_)});
            if (compare_) slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(compare_)});
            if (compare_ && frozen_) slots.push_back({Py_tp_hash, reinterpret_cast<void*>(entries.hash)});
            if (traverse_) {
                slots.push_back({Py_tp_traverse, reinterpret_cast<void*>(traverse_)});
                slots.push_back({Py_tp_clear, reinterpret_cast<void*>(clear_)});
            }
            slots.push_back({0, nullptr});
            unsigned int flags =
                Py_TPFLAGS_DEFAULT | (traverse_ ? Py_TPFLAGS_HAVE_GC : 0) | (subclassable_ ? Py_TPFLAGS_BASETYPE : 0);
            PyType_Spec spec{qualified_.c_str(), static_cast<int>(entries.basic_size), 0, flags, slots.data()};
            Ref type = Ref::steal(PyType_FromSpec(&spec));
            if (!type || !add_members(reinterpret_cast<PyTypeObject*>(type.get()), entries.member)) return nullptr;
            info_.name = name_;
            class_infos().push_back(info_);
            return reinterpret_cast<PyTypeObject*>(type.release());
        },
        static_cast<PyTypeObject*>(nullptr));
}

bool UntypedTable::record_fields(std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept {
    fields.clear();
    for (const PyGetSetDef& entry : getset_) {
        Ref name = Ref::steal(PyUnicode_InternFromString(entry.name));
        if (!name) return false;
        fields.emplace_back(KeptRef(std::move(name)), static_cast<FieldAccess*>(entry.closure));
    }
    return true;
}

bool UntypedTable::add_members(PyTypeObject* type, PyObject* (*member)(PyTypeObject*, long long)) noexcept {
    for (auto& [name, value] : members_) {
        Ref made = Ref::steal(member(type, value));
        if (!made || PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, made.get()) < 0) return false;
    }
    return true;
}

const char* UntypedTable::keep(std::string text) {
    texts_.push_back(std::move(text));
    return texts_.back().c_str();
}

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

}  // namespace vorn::py
