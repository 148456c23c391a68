// Binding Python call arguments to C++ parameters, with the exact texts of the binding errors.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/toolkit/convert.hpp"
#include "python/toolkit/infos.hpp"
#include "python/toolkit/type_text.hpp"

namespace vorn::py {

struct Parameter {
    const char* name;
    bool required;
    KeptRef key;                // the name as an interned str, compared with keyword names as Python strings
    bool keyword_only = false;  // "*, name=None": after every positional parameter, never required
};

// A parameter as a table declares it: its name, and its meaning and unit where the module's glossary
// does not already give them.
struct Param {
    Param(const char* name) : name(name) {}  // NOLINT: a plain name is the common case
    Param(const char* name, const char* meaning, const char* unit = "") : name(name), meaning(meaning), unit(unit) {}
    const char* name;
    const char* meaning = nullptr;
    const char* unit = nullptr;
};
using Params = std::vector<Param>;

struct Signature {
    std::string callable;               // "Class.method()" or "function()", the prefix of every binding error
    std::vector<Parameter> parameters;  // the positional ones first, then the keyword-only ones

    // "(a, b=None, *, c=None)", or "($self, a, b=None)" for a method.
    std::string text(bool method) const;
    // How many parameters a caller may give by position.
    std::size_t positional() const;
};

// The parameters of a signature as the stubs describe them, with their annotations.
std::vector<DescribedItem> parameter_items(const Signature& signature, const Params& names,
                                           const std::vector<std::string>& types);

// Put each argument (borrowed, nullptr when absent) into `slots`, in parameter order; on a
// binding error they set TypeError and return false. One binder, two calling conventions:
// a vector call (positionals, then the values of the keywords named in `kwnames`) ...
bool bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) noexcept;
// ... and a tuple with a dict (constructors).
bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) noexcept;

template <class T>
inline constexpr bool is_optional_v = false;
template <class T>
inline constexpr bool is_optional_v<std::optional<T>> = true;

// The argument's own instance of a bound class, claimed when converted and held shared or exclusively
// from the end of the call's conversions (which may run Python code) to the end of the call.
template <BoundClass T, bool Exclusive>
class HeldArgument {
public:
    bool take(PyObject* object) noexcept {
        PyTypeObject* type = class_type<T>();
        if (!type) return false;
        if (!PyObject_TypeCheck(object, type)) return cannot_convert(object, type);
        object_ = Ref::borrow(object);
        return hold_.claim(object_of<T>(object)->borrow);
    }
    bool hold() noexcept { return hold_.take(); }
    std::conditional_t<Exclusive, T, const T>& get() const noexcept { return object_of<T>(object_.get())->value; }

private:
    Ref object_;
    Hold<Exclusive> hold_;  // declared last, so released before the reference
};

// How a C++ parameter of type A receives its argument:
//   V or const V&   a converted copy (records passed as values included);
//   const T&        the argument's own instance of bound class T, held shared for the call;
//   T&              the argument's own instance of bound class T, held exclusively for the call.
template <class A>
struct Argument {
    static_assert(!std::is_lvalue_reference_v<A> || std::is_const_v<std::remove_reference_t<A>>,
                  "a non-const reference parameter must name a bound class");
    using Storage = std::decay_t<A>;
    static constexpr bool required = !is_optional_v<Storage>;
    static bool from(PyObject* object, Storage& out) noexcept { return Convert<Storage>::from(object, out); }
    static std::string type_text() { return TypeText<Storage>::write(); }
    static Storage&& pass(Storage& stored) noexcept { return std::move(stored); }
};

template <BoundClass T>
struct Argument<const T&> {
    using Storage = HeldArgument<T, false>;
    static constexpr bool required = true;
    static std::string type_text() { return Bound<T>::name; }
    static bool from(PyObject* object, Storage& out) noexcept { return out.take(object); }
    static const T& pass(Storage& stored) noexcept { return stored.get(); }
};

template <BoundClass T>
struct Argument<T&> {
    using Storage = HeldArgument<T, true>;
    static constexpr bool required = true;
    static std::string type_text() { return Bound<T>::name; }
    static bool from(PyObject* object, Storage& out) noexcept { return out.take(object); }
    static T& pass(Storage& stored) noexcept { return stored.get(); }
};

// The Python parameters of a callable taking C++ parameters A...; `Values` holds the converted
// arguments (and the holds) for the length of one call.
template <class... A>
struct Parameters {
    using Values = std::tuple<typename Argument<A>::Storage...>;
    static constexpr std::size_t count = sizeof...(A);

    static Signature signature(std::string callable, const Params& names) {
        if (names.size() != count) throw std::logic_error(callable + " is described with a wrong number of names");
        Signature result{std::move(callable), {}};
        bool required[] = {Argument<A>::required..., false};
        for (std::size_t i = 0; i < count; ++i) {
            Ref key = Ref::steal(PyUnicode_InternFromString(names[i].name));
            if (!key) throw ErrorAlreadySet{};
            result.parameters.push_back({names[i].name, required[i], KeptRef(std::move(key))});
        }
        return result;
    }

    // The annotation of each parameter, as the stubs write it.
    static std::vector<std::string> type_texts() { return {Argument<A>::type_text()...}; }

    // Converts bound arguments in order (a TypeError is re-raised naming the parameter), then holds
    // the arguments that are library objects. Throws ErrorAlreadySet on failure, so that callers stay
    // inside one guard.
    static void convert(const Signature& signature, PyObject* const* slots, Values& values) {
        if (!convert_each(signature, slots, values, std::index_sequence_for<A...>{})) throw ErrorAlreadySet{};
        if (!std::apply([](auto&... value) { return (hold(value) && ...); }, values)) throw ErrorAlreadySet{};
    }

    // Positional arguments that bind to any call, up to the last required parameter: the value-initialised
    // value of each required parameter's type, None for an optional one. A new tuple, or nullptr with
    // an error set.
    static PyObject* neutral_arguments() noexcept {
        Ref items[] = {neutral<A>()..., Ref::borrow(Py_None)};
        bool required[] = {Argument<A>::required..., true};
        std::size_t size = count;
        while (size > 0 && !required[size - 1]) --size;
        Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(size)));
        if (!tuple) return nullptr;
        for (std::size_t i = 0; i < size; ++i) {
            if (!items[i]) return nullptr;
            PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), items[i].release());  // steals
        }
        return tuple.release();
    }

    // Calls `fn` with `leading` (the instance of a method), then the converted arguments.
    template <class F, class... Leading>
    static decltype(auto) invoke(F fn, Values& values, Leading&... leading) {
        return invoke_each(fn, values, std::index_sequence_for<A...>{}, leading...);
    }

private:
    template <class V>
    static bool hold(V&) noexcept {
        return true;
    }
    template <BoundClass T, bool Exclusive>
    static bool hold(HeldArgument<T, Exclusive>& argument) noexcept {
        return argument.hold();
    }

    template <class One>
    static Ref neutral() noexcept {
        using Storage = typename Argument<One>::Storage;
        if constexpr (Argument<One>::required) {
            return guarded([] { return Ref::steal(Convert<Storage>::to(Storage{})); }, Ref());
        } else {
            return Ref::borrow(Py_None);
        }
    }

    template <std::size_t... I>
    static bool convert_each(const Signature& signature, PyObject* const* slots, Values& values,
                             std::index_sequence<I...>) noexcept {
        auto one = [&](auto index) {
            constexpr std::size_t i = decltype(index)::value;
            if (!slots[i]) return true;
            if (Argument<std::tuple_element_t<i, std::tuple<A...>>>::from(slots[i], std::get<i>(values))) return true;
            prefix_argument_error(signature.parameters[i].name);
            return false;
        };
        (void)one;
        return (one(std::integral_constant<std::size_t, I>{}) && ...);
    }
    template <class F, std::size_t... I, class... Leading>
    static decltype(auto) invoke_each(F fn, Values& values, std::index_sequence<I...>, Leading&... leading) {
        return fn(leading..., Argument<A>::pass(std::get<I>(values))...);
    }
};

// A callable's parameters, read off a function pointer.
template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
    using Params = Parameters<A...>;
    using Result = R;
};

// A method's: the first C++ parameter is the instance, `const T&` (held shared) or `T&` (held
// exclusively); the rest are the Python parameters.
template <class F>
struct MethodTraits;
template <class R, class Self, class... A>
struct MethodTraits<R (*)(Self&, A...)> {
    using Instance = std::remove_const_t<Self>;
    static constexpr bool exclusive = !std::is_const_v<Self>;
    using Params = Parameters<A...>;
    using Result = R;
};

// Binds with `bind` (one of the two binders, given the slots) and converts into `values`.
template <class Params, class Bind>
void bind_and_convert(const Signature& signature, typename Params::Values& values, Bind bind) {
    PyObject* slots[Params::count == 0 ? 1 : Params::count] = {};
    if (!bind(slots)) throw ErrorAlreadySet{};
    Params::convert(signature, slots, values);
}

// The annotation of what a callable returns.
template <class R>
std::string return_text() {
    if constexpr (std::is_void_v<R>)
        return "None";
    else
        return TypeText<std::decay_t<R>>::read();
}

// Converts a call's C++ result; void becomes None.
template <class Call>
PyObject* result_of(Call&& call) {
    using R = decltype(call());
    if constexpr (std::is_void_v<R>) {
        call();
        return Ref::borrow(Py_None).release();
    } else {
        PyObject* result = Convert<std::decay_t<R>>::to(call());
        if (!result) throw ErrorAlreadySet{};
        return result;
    }
}

}  // namespace vorn::py
