#include "files/json_value.hpp"

namespace vorn::files {

bool operator==(const JsonValue& a, const JsonValue& b) {
    using Kind = JsonValue::Kind;
    const Kind ka = a.kind();
    const Kind kb = b.kind();
    const bool a_integer = ka == Kind::Int || ka == Kind::UInt;
    const bool b_integer = kb == Kind::Int || kb == Kind::UInt;
    if (a_integer && b_integer) {
        if (ka == kb) return ka == Kind::Int ? a.as_int() == b.as_int() : a.as_uint() == b.as_uint();
        const std::int64_t signed_value = ka == Kind::Int ? a.as_int() : b.as_int();
        const std::uint64_t unsigned_value = ka == Kind::UInt ? a.as_uint() : b.as_uint();
        return signed_value >= 0 && static_cast<std::uint64_t>(signed_value) == unsigned_value;
    }
    if (ka != kb) return false;
    switch (ka) {
        case Kind::Null: return true;
        case Kind::Bool: return a.as_bool() == b.as_bool();
        case Kind::Double: return a.as_double() == b.as_double();
        case Kind::String: return a.as_string() == b.as_string();
        case Kind::Array: return a.as_array() == b.as_array();
        case Kind::Object: return a.as_object() == b.as_object();
        default: return false;  // integers handled above
    }
}

}  // namespace vorn::files
