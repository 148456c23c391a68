// The C entry points behind a class table and module functions. Each is a template on the
// C++ function it calls, so no closure is needed, and each runs inside one `guarded` boundary.
#pragma once

#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/toolkit/arguments.hpp"
#include "python/toolkit/fields.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::py {

template <class T>
struct Dealloc {
    static void call(PyObject* self) noexcept { destroy_instance<T>(self); }
};

template <class T, auto Member>
struct HeldObject {
    static int traverse(PyObject* self, visitproc visit, void* arg) noexcept {
        Py_VISIT(reinterpret_cast<PyObject*>(Py_TYPE(self)));
        Py_VISIT((object_of<T>(self)->value.*Member).get());
        return 0;
    }
    static int clear(PyObject* self) noexcept {
        Ref dropped = std::move(object_of<T>(self)->value.*Member);
        return 0;
    }
};

// tp_new: the one entry point that takes a tuple and a dict.
template <class T, auto Make>
struct Constructor {
    using Params = typename FunctionTraits<decltype(Make)>::Params;
    static Signature& signature() {
        static Signature instance;
        return instance;
    }
    static PyObject* call(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
        return guarded(
            [&] {
                typename Params::Values values{};
                bind_and_convert<Params>(signature(), values, [&](PyObject** slots) {
                    return bind_tuple(signature(), args, kwargs, slots);
                });
                PyObject* self = make_instance<T>(type, Params::invoke(Make, values));
                if (!self) throw ErrorAlreadySet{};
                return self;
            },
            static_cast<PyObject*>(nullptr));
    }
};

// A method (METH_FASTCALL | METH_KEYWORDS). The instance is claimed once the arguments are bound and
// held once they are converted, so that the hold spans only the method's own work, never Python code
// that a conversion runs (another thread's turn in between), while this thread calling back from a
// conversion meets the claim; argument holds end last.
template <class T, auto Fn>
struct Method {
    using Traits = MethodTraits<decltype(Fn)>;
    using Params = typename Traits::Params;
    static std::string return_text() { return py::return_text<typename Traits::Result>(); }
    using Hold = py::Hold<Traits::exclusive>;
    static_assert(std::is_same_v<typename Traits::Instance, T>, "a method's first parameter is its instance");
    static Signature& signature() {
        static Signature instance;
        return instance;
    }
    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded(
            [&] {
                auto* object = object_of<T>(self);
                Hold hold;
                typename Params::Values values{};
                bind_and_convert<Params>(signature(), values, [&](PyObject** slots) {
                    return bind_fastcall(signature(), args, nargs, kwnames, slots) && hold.claim(object->borrow);
                });
                // The hold ends with the call; converting the result may run Python code too.
                return result_of([&]() -> decltype(auto) {
                    Taken<Traits::exclusive> taken(hold);
                    return Params::invoke(Fn, values, object->value);
                });
            },
            static_cast<PyObject*>(nullptr));
    }
};

// Whether a module function's own work, between the conversions of its arguments and of its result,
// runs with the interpreter lock held or without it (see without_lock). vorn_core's always hold it.
enum class Lock { held, released };

// A module function (Owner void) or a static method of class Owner (METH_FASTCALL | METH_KEYWORDS).
template <auto Fn, class Owner = void, Lock lock = Lock::held>
struct Function {
    using Params = typename FunctionTraits<decltype(Fn)>::Params;
    static std::string return_text() { return py::return_text<typename FunctionTraits<decltype(Fn)>::Result>(); }
    static Signature& signature() {
        static Signature instance;
        return instance;
    }
    static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded(
            [&] {
                typename Params::Values values{};
                bind_and_convert<Params>(signature(), values, [&](PyObject** slots) {
                    return bind_fastcall(signature(), args, nargs, kwnames, slots);
                });
                if constexpr (lock == Lock::released) {
                    auto unlocked = [](auto&&... arguments) -> decltype(auto) {
                        return without_lock(Fn, std::forward<decltype(arguments)>(arguments)...);
                    };
                    return result_of([&]() -> decltype(auto) { return Params::invoke(unlocked, values); });
                } else {
                    return result_of([&]() -> decltype(auto) { return Params::invoke(Fn, values); });
                }
            },
            static_cast<PyObject*>(nullptr));
    }
};

template <class Call>
PyCFunction fastcall_entry() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Call::call));
}
inline constexpr int fastcall_flags = METH_FASTCALL | METH_KEYWORDS;

// The method table entry of a module function; its docstring carries the text signature.
template <auto Fn, Lock lock = Lock::held>
PyMethodDef module_function(const char* name, Params names, const char* doc = nullptr) {
    using Call = Function<Fn, void, lock>;
    Call::signature() = Call::Params::signature(std::string(name) + "()", names);
    static const std::string text = name + Call::signature().text(false) + "\n--\n\n" + (doc ? doc : "");
    function_infos().push_back({name, parameter_items(Call::signature(), names, Call::Params::type_texts()),
                                Call::return_text(), doc ? doc : "", false});
    return {name, fastcall_entry<Call>(), fastcall_flags, text.c_str()};
}

template <class T, auto Fn>
struct Repr {
    static PyObject* call(PyObject* self) noexcept {
        return guarded(
            [&] {
                SharedHold hold(object_of<T>(self)->borrow);
                return Convert<std::string>::to(Fn(object_of<T>(self)->value));
            },
            static_cast<PyObject*>(nullptr));
    }
};

// The members of an enumeration class: value, name and repr ("LinkType.Fiber").
template <class T>
struct EnumMembers {
    struct Member {
        T value;
        std::string name;
        std::string text;
    };
    static std::vector<Member>& list() {
        static std::vector<Member> instance;
        return instance;
    }
    static const Member* find(T value) noexcept {
        for (const Member& member : list())
            if (member.value == value) return &member;
        return nullptr;
    }
};

template <class T>
struct EnumRepr {
    static PyObject* call(PyObject* self) noexcept {
        const auto* member = EnumMembers<T>::find(object_of<T>(self)->value);
        return Convert<std::string>::to(member ? member->text : "<unknown member>");
    }
};

// A member pickles and copies as the class attribute of its name, so it comes back as that very object.
template <class T>
struct EnumReduce {
    static PyObject* call(PyObject* self, PyObject*) noexcept {
        const auto* member = EnumMembers<T>::find(object_of<T>(self)->value);
        if (!member) {
            PyErr_SetString(PyExc_TypeError, "cannot pickle an unknown enumeration member");
            return nullptr;
        }
        Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
        Ref getattr = builtins ? Ref::steal(PyObject_GetAttrString(builtins.get(), "getattr")) : Ref();
        Ref name = Ref::steal(Convert<std::string>::to(member->name));
        if (!getattr || !name) return nullptr;
        Ref arguments = Ref::steal(PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), name.get()));
        return arguments ? PyTuple_Pack(2, getattr.get(), arguments.get()) : nullptr;
    }
};

// A record pickles and copies as its class called with arguments that any call accepts, then its
// state: every field, set by __setstate__. The record is its fields, so whatever the constructor
// computes from its arguments is replaced exactly.
template <class T, auto Make>
struct Reduce {
    static PyObject* call(PyObject* self, PyObject*) noexcept {
        using Params = typename FunctionTraits<decltype(Make)>::Params;
        Ref arguments = Ref::steal(Params::neutral_arguments());
        Ref state = Ref::steal(state_of<T>(self));
        if (!arguments || !state) return nullptr;
        return PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(self)), arguments.get(), state.get());
    }
};

template <class T>
struct SetState {
    static PyObject* call(PyObject* self, PyObject* state) noexcept {
        return restore_state<T>(self, state) ? Ref::borrow(Py_None).release() : nullptr;
    }
};

template <class T, auto Equal>
struct Compare {
    static PyObject* call(PyObject* self, PyObject* other, int op) noexcept {
        if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, Py_TYPE(self)))
            return Ref::borrow(Py_NotImplemented).release();
        return guarded(
            [&] {
                SharedHold mine(object_of<T>(self)->borrow);
                SharedHold theirs(object_of<T>(other)->borrow);
                bool equal = Equal(object_of<T>(self)->value, object_of<T>(other)->value);
                return PyBool_FromLong(equal == (op == Py_EQ));
            },
            static_cast<PyObject*>(nullptr));
    }
};

}  // namespace vorn::py
