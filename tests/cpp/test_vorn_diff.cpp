// The parts of a diff that files loaded from Python cannot show: a version change (loading accepts only "1.0"),
// NaN values, and a custom value that is null rather than absent. The report and lists are tested from Python.
#include "check.hpp"
#include "files/vorn_diff.hpp"

using namespace vorn::files;

TEST_CASE("version lines, NaN and a null custom value") {
    VornFile base = VornFile::named("net");
    base.nodes.push_back({"A", std::nan(""), {}, {}});
    base.extensions = VornExtensions{JsonValue::object({{"a", JsonValue::integer(1)}})};
    VornFile other = base;
    other.version = "2.0";
    other.extensions = VornExtensions{JsonValue::object({{"a", JsonValue::unsigned_integer(1)}})};
    CHECK_EQ(diff_vorn_files("a", "b", base, other).summary,
             std::string("Diff between 'a' and 'b':\n  Version: 1.0 -> 2.0\n  Nodes modified: 1 (A)\n"));

    base.extensions = VornExtensions{JsonValue()};
    other.extensions = VornExtensions{};
    CHECK(diff_vorn_files("a", "b", base, other).extensions_changed);
}

CHECK_MAIN()
