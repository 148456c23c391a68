// Binding Python call arguments to C++ parameters, with the exact texts of the binding errors.
#pragma once

#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/toolkit/convert.hpp"

namespace vorn::py {

struct Parameter {
    const char* name;
    bool required;
};

struct Signature {
    std::string callable;  // "Class.method()" or "function()", the prefix of every binding error
    std::vector<Parameter> parameters;

    // "(a, b=None)", or "($self, a, b=None)" for a method.
    std::string text(bool method) const;
};

// Puts each argument (borrowed, nullptr when absent) into `slots`, in parameter order; on a
// binding error sets TypeError and returns false.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) noexcept;

template <class T>
inline constexpr bool is_optional_v = false;
template <class T>
inline constexpr bool is_optional_v<std::optional<T>> = true;

// A callable's C++ parameters, read off a function pointer.
template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
    using Result = R;
    using Values = std::tuple<std::decay_t<A>...>;
    static constexpr std::size_t arity = sizeof...(A);
};

// A parameter is optional ("=None") exactly when its C++ type is std::optional.
template <class Values, std::size_t... I>
std::vector<Parameter> parameters_of(const std::vector<const char*>& names, std::index_sequence<I...>) {
    return {Parameter{names.at(I), !is_optional_v<std::tuple_element_t<I, Values>>}...};
}

template <class Values>
Signature make_signature(std::string callable, const std::vector<const char*>& names) {
    return {std::move(callable),
            parameters_of<Values>(names, std::make_index_sequence<std::tuple_size_v<Values>>{})};
}

// Converts bound arguments in order; a TypeError is re-raised naming the parameter.
template <class Values, std::size_t... I>
bool convert_arguments(const Signature& signature, PyObject** slots, Values& values, std::index_sequence<I...>) noexcept {
    auto one = [&](auto index) {
        constexpr std::size_t i = decltype(index)::value;
        if (!slots[i]) return true;
        if (Convert<std::tuple_element_t<i, Values>>::from(slots[i], std::get<i>(values))) return true;
        prefix_argument_error(signature.parameters[i].name);
        return false;
    };
    (void)one;
    return (one(std::integral_constant<std::size_t, I>{}) && ...);
}

// Binds and converts; throws ErrorAlreadySet on failure so callers stay inside one guard.
template <class Values>
Values bind_and_convert(const Signature& signature, PyObject* args, PyObject* kwargs) {
    constexpr std::size_t count = std::tuple_size_v<Values>;
    PyObject* slots[count == 0 ? 1 : count] = {};
    if (!bind_arguments(signature, args, kwargs, slots)) throw ErrorAlreadySet{};
    Values values{};
    if (!convert_arguments(signature, slots, values, std::make_index_sequence<count>{})) throw ErrorAlreadySet{};
    return values;
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
