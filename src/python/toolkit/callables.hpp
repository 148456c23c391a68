// The C entry points behind a class table and module functions. Each is a template on the
// C++ function it calls, so no closure is needed, and each runs inside one `guarded` boundary.
#pragma once

#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/toolkit/arguments.hpp"

namespace vorn::py {

template <class T>
struct Dealloc {
    static void call(PyObject* self) noexcept {
        if (PyType_GetFlags(Py_TYPE(self)) & Py_TPFLAGS_HAVE_GC) PyObject_GC_UnTrack(self);
        destroy_instance<T>(self);
    }
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

template <class T, auto Make>
struct Constructor {
    using Values = typename FunctionTraits<decltype(Make)>::Values;
    static Signature& signature() {
        static Signature instance;
        return instance;
    }
    static PyObject* call(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
        return guarded(
            [&] {
                auto values = bind_and_convert<Values>(signature(), args, kwargs);
                PyObject* self = make_instance<T>(type, std::apply(Make, std::move(values)));
                if (!self) throw ErrorAlreadySet{};
                return self;
            },
            static_cast<PyObject*>(nullptr));
    }
};

template <class F>
struct MethodTraits;
template <class R, class Self, class... A>
struct MethodTraits<R (*)(Self&, A...)> {
    static constexpr bool exclusive = !std::is_const_v<Self>;
    using Values = std::tuple<std::decay_t<A>...>;
};

template <class T, auto Fn>
struct Method {
    using Traits = MethodTraits<decltype(Fn)>;
    using Values = typename Traits::Values;
    using Hold = std::conditional_t<Traits::exclusive, ExclusiveHold, SharedHold>;
    static Signature& signature() {
        static Signature instance;
        return instance;
    }
    static PyObject* call(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
        return guarded(
            [&] {
                auto* object = object_of<T>(self);
                Hold hold(object->borrow);
                auto values = bind_and_convert<Values>(signature(), args, kwargs);
                return result_of([&]() -> decltype(auto) {
                    return std::apply([&](auto&&... a) -> decltype(auto) { return Fn(object->value, std::move(a)...); },
                                      values);
                });
            },
            static_cast<PyObject*>(nullptr));
    }
};

template <auto Fn>
struct Function {
    using Values = typename FunctionTraits<decltype(Fn)>::Values;
    static Signature& signature() {
        static Signature instance;
        return instance;
    }
    static PyObject* call(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
        return guarded(
            [&] {
                auto values = bind_and_convert<Values>(signature(), args, kwargs);
                return result_of([&]() -> decltype(auto) { return std::apply(Fn, std::move(values)); });
            },
            static_cast<PyObject*>(nullptr));
    }
};

// The method table entry of a module function; its docstring carries the text signature.
template <auto Fn>
PyMethodDef module_function(const char* name, std::vector<const char*> names, const char* doc = nullptr) {
    using Call = Function<Fn>;
    Call::signature() = make_signature<typename Call::Values>(std::string(name) + "()", names);
    static const std::string text = name + Call::signature().text(false) + "\n--\n\n" + (doc ? doc : "");
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Call::call)),
            METH_VARARGS | METH_KEYWORDS, text.c_str()};
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

template <class T>
struct EnumRepr {
    static std::vector<std::pair<T, std::string>>& names() {
        static std::vector<std::pair<T, std::string>> instance;
        return instance;
    }
    static PyObject* call(PyObject* self) noexcept {
        T value = object_of<T>(self)->value;
        for (const auto& [member, text] : names())
            if (member == value) return Convert<std::string>::to(text);
        return Convert<std::string>::to("<unknown member>");
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
