// The Python annotation of a C++ type as the conversion traits present it: what reading gives
// (`read`) and what writing or passing accepts (`write`), for the generated stubs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "python/toolkit/convert.hpp"

namespace vorn::py {

template <class T>
struct TypeText;

#define VORN_TYPE_TEXT(Type, Text)                  \
    template <>                                     \
    struct TypeText<Type> {                         \
        static std::string read() { return Text; }  \
        static std::string write() { return Text; } \
    }

VORN_TYPE_TEXT(std::string, "str");
VORN_TYPE_TEXT(double, "float");
VORN_TYPE_TEXT(std::uint64_t, "int");
VORN_TYPE_TEXT(std::int64_t, "int");
VORN_TYPE_TEXT(std::uint32_t, "int");
VORN_TYPE_TEXT(bool, "bool");
VORN_TYPE_TEXT(Ref, "Any");
VORN_TYPE_TEXT(void, "None");

#undef VORN_TYPE_TEXT

template <class T>
struct TypeText<std::optional<T>> {
    static std::string read() { return TypeText<T>::read() + " | None"; }
    static std::string write() { return TypeText<T>::write() + " | None"; }
};

template <class T>
struct TypeText<std::vector<T>> {
    static std::string read() { return "list[" + TypeText<T>::read() + "]"; }
    static std::string write() { return "Sequence[" + TypeText<T>::write() + "]"; }
};

template <class... T>
struct TypeText<std::tuple<T...>> {
    static std::string read() { return join<true>(); }
    static std::string write() { return join<false>(); }

private:
    template <bool Read>
    static std::string join() {
        std::string out = "tuple[";
        bool first = true;
        ((out += (first ? "" : ", ") + (Read ? TypeText<T>::read() : TypeText<T>::write()), first = false), ...);
        return out + "]";
    }
};

template <class A, class B>
struct TypeText<std::pair<A, B>> : TypeText<std::tuple<A, B>> {};

template <class V>
struct TypeText<Entries<V>> {
    static std::string read() { return "dict[str, " + TypeText<V>::read() + "]"; }
    static std::string write() { return "dict[str, " + TypeText<V>::write() + "]"; }
};

template <BoundClass T>
struct TypeText<T> {
    static std::string read() { return Bound<T>::name; }
    static std::string write() { return Bound<T>::name; }
};

}  // namespace vorn::py
