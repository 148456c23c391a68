// The fields of a bound record: how an attribute reads and writes one, and how the whole record
// travels through pickle and copy as the dict of its fields.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/toolkit/convert.hpp"

namespace vorn::py {

// How a field's value travels in a record's state. As the Python value its attribute reads, which
// pickles by itself (records with a constructor, enumeration members, plain values); a record that
// Python cannot construct travels as the dict of its own fields (see the bound-class case below).
template <class V>
struct Travel {
    static PyObject* state(const V& value) noexcept { return Convert<V>::to(value); }
    static bool restore(PyObject* object, V& out) noexcept { return Convert<V>::from(object, out); }
};

template <class V>
struct Travel<std::optional<V>> {
    static PyObject* state(const std::optional<V>& value) noexcept {
        return value ? Travel<V>::state(*value) : Ref::borrow(Py_None).release();
    }
    static bool restore(PyObject* object, std::optional<V>& out) noexcept {
        if (object == Py_None) {
            out.reset();
            return true;
        }
        V value{};
        if (!Travel<V>::restore(object, value)) return false;
        out = std::move(value);
        return true;
    }
};

// Reads and writes one field of the record held by an instance; `state` and `restore` are the
// same through Travel, for pickling.
struct FieldAccess {
    virtual ~FieldAccess() = default;
    virtual PyObject* get(PyObject* self) noexcept = 0;
    virtual int set(PyObject* self, PyObject* value) noexcept = 0;
    virtual PyObject* state(PyObject* self) noexcept = 0;
    virtual int restore(PyObject* self, PyObject* value) noexcept = 0;
};

// The fields of T's class in table order, each with its name as an interned str; filled when the
// type is built.
template <class T>
struct RecordFields {
    static std::vector<std::pair<KeptRef, FieldAccess*>>& list() {
        static std::vector<std::pair<KeptRef, FieldAccess*>> instance;
        return instance;
    }
};

// {field name: state of the field} of an instance of T; nullptr with an error set on failure.
template <class T>
PyObject* state_of(PyObject* self) noexcept {
    Ref state = Ref::steal(PyDict_New());
    if (!state) return nullptr;
    for (const auto& [name, field] : RecordFields<T>::list()) {
        Ref value = Ref::steal(field->state(self));
        if (!value || PyDict_SetItem(state.get(), name.get(), value.get()) < 0) return nullptr;
    }
    return state.release();
}

// Checks that `state` names exactly the fields of the record (`names`, in table order): otherwise a
// ValueError "<Class> state: missing field 'a'; unknown field 'b'" naming each, and false.
bool check_state_keys(PyObject* self, PyObject* state,
                      const std::vector<std::pair<KeptRef, FieldAccess*>>& fields) noexcept;

// Sets every field from `state` (a dict from state_of, with exactly the record's fields) on a copy of
// the record first, so that a failure leaves the instance as it was.
template <class T>
bool restore_state(PyObject* self, PyObject* state) noexcept {
    if (!PyDict_Check(state)) return cannot_convert(state, "PyDict");
    const auto& fields = RecordFields<T>::list();
    if (!check_state_keys(self, state, fields)) return false;
    return guarded(
        [&] {
            Ref copy;
            {
                SharedHold hold(object_of<T>(self)->borrow);
                copy = Ref::steal(make_instance<T>(Py_TYPE(self), object_of<T>(self)->value));
            }
            if (!copy) return false;
            for (const auto& [name, field] : fields) {
                Ref value = Ref::borrow(PyDict_GetItemWithError(state, name.get()));
                if (!value) return false;
                if (field->restore(copy.get(), value.get()) < 0) {
                    prefix_field_error(name.get());
                    return false;
                }
            }
            ExclusiveHold hold(object_of<T>(self)->borrow);
            object_of<T>(self)->value = std::move(object_of<T>(copy.get())->value);
            return true;
        },
        false);
}

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) noexcept;

// A record of a class without a constructor (the Monte Carlo context inside statistics) cannot be
// rebuilt by pickle on its own, so inside another record's state it travels as the dict of its fields.
template <BoundClass V>
    requires(!std::is_enum_v<V>)
struct Travel<V> {
    static bool constructible(PyTypeObject* type) noexcept {
        return PyType_GetSlot(type, Py_tp_new) != reinterpret_cast<void*>(&refuse_construction);
    }
    static PyObject* state(const V& value) noexcept {
        PyTypeObject* type = class_type<V>();
        if (!type) return nullptr;
        Ref object = Ref::steal(make_instance<V>(type, value));
        if (!object || constructible(type)) return object.release();
        return state_of<V>(object.get());
    }
    static bool restore(PyObject* object, V& out) noexcept {
        PyTypeObject* type = class_type<V>();
        if (!type) return false;
        if (constructible(type) || !PyDict_Check(object)) return Convert<V>::from(object, out);
        Ref fresh = Ref::steal(make_instance<V>(type, V{}));
        return fresh && restore_state<V>(fresh.get(), object) && Convert<V>::from(fresh.get(), out);
    }
};

// The two directions of a field, for attributes (Convert) and for pickling (Travel).
template <class V>
PyObject* python_of(const V& value) noexcept {
    return Convert<V>::to(value);
}
template <class V>
bool value_of(PyObject* object, V& out) noexcept {
    return Convert<V>::from(object, out);
}
template <class V>
PyObject* state_of_value(const V& value) noexcept {
    return Travel<V>::state(value);
}
template <class V>
bool restored_value(PyObject* object, V& out) noexcept {
    return Travel<V>::restore(object, out);
}

// Reading converts under a shared hold; writing converts first, then replaces the field under an
// exclusive hold, so a failed conversion leaves the record as it was.
template <class T, class Read, class Out>
PyObject* read_field(PyObject* self, Read read, Out out) noexcept {
    return guarded(
        [&] {
            SharedHold hold(object_of<T>(self)->borrow);
            return out(read(object_of<T>(self)->value));
        },
        static_cast<PyObject*>(nullptr));
}

template <class T, class V, class In, class Write>
int write_field(PyObject* self, PyObject* value, In in, Write write) noexcept {
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
        return -1;
    }
    return guarded(
        [&] {
            V converted{};
            if (!in(value, converted)) return -1;
            ExclusiveHold hold(object_of<T>(self)->borrow);
            write(object_of<T>(self)->value, std::move(converted));
            return 0;
        },
        -1);
}

template <class Pointer>
struct MemberOf;
template <class T, class M>
struct MemberOf<M T::*> {
    using Type = M;
};

template <class T, class Pointer>
struct MemberField final : FieldAccess {
    using M = typename MemberOf<Pointer>::Type;
    explicit MemberField(Pointer member) : member(member) {}
    Pointer member;

    PyObject* get(PyObject* self) noexcept override { return read_field<T>(self, reader(), python_of<M>); }
    int set(PyObject* self, PyObject* value) noexcept override {
        return write_field<T, M>(self, value, value_of<M>, writer());
    }
    PyObject* state(PyObject* self) noexcept override { return read_field<T>(self, reader(), state_of_value<M>); }
    int restore(PyObject* self, PyObject* value) noexcept override {
        return write_field<T, M>(self, value, restored_value<M>, writer());
    }

private:
    auto reader() const {
        return [this](const T& record) -> const M& { return record.*member; };
    }
    auto writer() const {
        return [this](T& record, M&& converted) { record.*member = std::move(converted); };
    }
};

template <class F>
struct SetterTraits;
template <class T, class V>
struct SetterTraits<void (*)(T&, V)> {
    using Value = std::decay_t<V>;
};

// A field whose Python form differs from the stored one: `Get` is R(*)(const T&) and `Set`
// is void(*)(T&, V), each converting through the traits of R and V.
template <class T, auto Get, auto Set>
struct PropertyField final : FieldAccess {
    using R = std::decay_t<decltype(Get(std::declval<const T&>()))>;
    using V = typename SetterTraits<decltype(Set)>::Value;

    PyObject* get(PyObject* self) noexcept override { return read_field<T>(self, Get, python_of<R>); }
    int set(PyObject* self, PyObject* value) noexcept override {
        return write_field<T, V>(self, value, value_of<V>, write);
    }
    PyObject* state(PyObject* self) noexcept override { return read_field<T>(self, Get, state_of_value<R>); }
    int restore(PyObject* self, PyObject* value) noexcept override {
        return write_field<T, V>(self, value, restored_value<V>, write);
    }

private:
    static void write(T& record, V&& converted) { Set(record, std::move(converted)); }
};

}  // namespace vorn::py
