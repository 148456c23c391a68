// A very small test harness: TEST_CASE registers a function, CHECK records failures, main runs all.
// It brings in the standard headers the tests share.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

namespace check {

struct Case {
    const char* name;
    std::function<void()> body;
};

inline std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}
inline int& failures() {
    static int count = 0;
    return count;
}

struct Registrar {
    Registrar(const char* name, std::function<void()> body) { cases().push_back({name, std::move(body)}); }
};

inline void fail(const char* file, int line, const std::string& what) {
    ++failures();
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
}

template <class A, class B>
void equal(const char* file, int line, const char* text, const A& a, const B& b) {
    if (a == b) return;
    std::ostringstream out;
    out << text << " (" << a << " vs " << b << ")";
    fail(file, line, out.str());
}

// Bitwise identity for doubles: NaN equals NaN, 0.0 differs from -0.0.
inline bool same_double(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

}  // namespace check

#define CHECK_CAT2(a, b) a##b
#define CHECK_CAT(a, b)  CHECK_CAT2(a, b)
#define TEST_CASE(name)                                                                              \
    static void CHECK_CAT(check_case_, __LINE__)();                                                  \
    static check::Registrar CHECK_CAT(check_reg_, __LINE__)(name, CHECK_CAT(check_case_, __LINE__)); \
    static void CHECK_CAT(check_case_, __LINE__)()
#define CHECK(cond)                                          \
    do {                                                     \
        if (!(cond)) check::fail(__FILE__, __LINE__, #cond); \
    } while (0)
// CHECK for one case of a table: the failure names the case.
#define CHECK_FOR(name, cond)                                                         \
    do {                                                                              \
        if (!(cond)) check::fail(__FILE__, __LINE__, std::string(name) + ": " #cond); \
    } while (0)
#define CHECK_EQ(a, b) check::equal(__FILE__, __LINE__, #a " == " #b, (a), (b))

#define CHECK_MAIN()                                                                            \
    int main() {                                                                                \
        for (auto& c : check::cases()) {                                                        \
            int before = check::failures();                                                     \
            try {                                                                               \
                c.body();                                                                       \
            } catch (const std::exception& e) {                                                 \
                check::fail(__FILE__, __LINE__, std::string(c.name) + " threw: " + e.what());   \
            }                                                                                   \
            std::printf("%s %s\n", check::failures() == before ? "ok  " : "FAIL", c.name);      \
        }                                                                                       \
        std::printf("%zu cases, %d failed checks\n", check::cases().size(), check::failures()); \
        return check::failures() == 0 ? 0 : 1;                                                  \
    }
