#include "core/debug_text.hpp"

namespace vorn {

std::string debug_quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (byte < 0x20 || byte == 0x7f) {
                    out += "\\u{";
                    if (byte >= 0x10) out += kHex[byte >> 4];
                    out += kHex[byte & 0xf];
                    out += "}";
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace vorn
