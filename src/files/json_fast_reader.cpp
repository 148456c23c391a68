#include "files/json_fast_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <sys/mman.h>

#include "core/interruption_poll.hpp"
#include "files/json_number.hpp"
#include "files/text_file.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorn::files {
namespace {

constexpr std::uintptr_t kPage = 4096;
// Blocks this large always get a mapping of their own from the C library's allocator (the most its
// threshold for mapping rises to).
constexpr std::size_t kOwnMapping = std::size_t{32} << 20;

// Unknown values may nest this deep here; deeper ones, legal up to kMaxJsonNesting, go the exact way.
constexpr std::size_t kMaxSkipDepth = 100;
static_assert(kMaxSkipDepth + 8 < kMaxJsonNesting);

// Thrown where the exact reader must take over; caught in read_json_fast.
struct GiveUp {};

[[noreturn]] void give_up() { throw GiveUp{}; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether the `length` bytes at `text`, which may be read up to 24 bytes on (the padding after a text
// makes sure), are the field's key.
bool is_key(const JsonField& field, const char* text, std::size_t length) {
    if (length != field.key.size()) return false;
    if (length > 8 * field.key_words.size()) return std::memcmp(text, field.key.data(), length) == 0;
    std::uint64_t words[3];
    std::memcpy(words, text, sizeof words);
    return ((words[0] & field.key_masks[0]) ^ field.key_words[0]) == 0 &&
           ((words[1] & field.key_masks[1]) ^ field.key_words[1]) == 0 &&
           ((words[2] & field.key_masks[2]) ^ field.key_words[2]) == 0;
}
constexpr auto kSpace = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : {' ', '\n', '\r', '\t'}) table[c] = true;
    return table;
}();

bool is_space(char c) { return kSpace[static_cast<unsigned char>(c)]; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

// Powers of ten that a double holds exactly.
constexpr std::array<double, 23> kExactPowersOfTen{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::array<std::uint64_t, 9> kPowersOfTen{1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// How many of the eight characters in `word` (little-endian, first character lowest) are digits
// before the first one that is not.
int leading_digits(std::uint64_t word) {
    // A byte is a digit when subtracting '0' leaves 0..9: no borrow, and adding 6 stays below 16.
    const std::uint64_t values = word - 0x3030303030303030ull;
    const std::uint64_t not_digits = (values | (values + 0x0606060606060606ull)) & 0xF0F0F0F0F0F0F0F0ull;
    return not_digits == 0 ? 8 : std::countr_zero(not_digits) / 8;
}

// The value of the first `count` (1..8) characters of `word`, all digits, as a decimal number.
std::uint64_t digits_value(std::uint64_t word, int count) {
    std::uint64_t values = (word - 0x3030303030303030ull) << (8 * (8 - count));  // zeros lead
    values = (values * 10 + (values >> 8)) & 0x00FF00FF00FF00FFull;
    values = (values * 100 + (values >> 16)) & 0x0000FFFF0000FFFFull;
    return (values * 10000 + (values >> 32)) & 0xFFFFFFFFull;
}

// A number as the grammar check took it apart: its text, and its decimal digits as one integer with
// the power of ten that scales it.
struct Number {
    std::string_view text;
    bool negative = false;
    std::uint64_t significand = 0;  // meaningful for at most 19 digits
    int digits = 0;
    int exponent = 0;
};

// The double nearest to a number. Most figures in files have few digits and a small exponent: their
// significand and the power of ten are exact doubles, so one multiplication or division rounds
// correctly (Clinger's fast path); the rest go to the general conversion, which rounds correctly
// too, so the two never differ.
std::optional<double> number_value(const Number& number) {
    if (number.digits <= 19 && number.significand <= (std::uint64_t{1} << 53) && number.exponent >= -22 &&
        number.exponent <= 22) {
        double value = static_cast<double>(number.significand);
        value = number.exponent < 0 ? value / kExactPowersOfTen[static_cast<std::size_t>(-number.exponent)]
                                    : value * kExactPowersOfTen[static_cast<std::size_t>(number.exponent)];
        return number.negative ? -value : value;
    }
    return parse_json_double(number.text);
}

class FastReader {
public:
    FastReader(const FileText& text, Interruption* interruption)
        : p_(text.data()), end_(text.data() + text.size()), poll_(interruption, 4096) {}

    void document(const JsonRecord& root, void* record) {
        skip_space();
        if (*p_ != '{') give_up();
        read_record(root, record);
        skip_space();
        if (p_ != end_) give_up();  // trailing text, or a NUL byte before the end
    }

private:
    void skip_space() {
        while (is_space(*p_)) ++p_;
    }

    void expect(char c) {
        if (*p_ != c) give_up();
        ++p_;
    }

    // A separator and the spaces around it; most files write none before it and one after.
    void after(char separator) {
        if (*p_ != separator) {
            skip_space();
            expect(separator);
        } else {
            ++p_;
        }
        if (is_space(*p_)) {
            ++p_;
            skip_space();
        }
    }

    // After a member or an element: true at a comma, which it passes with the spaces after it; false
    // at `close`, which it passes.
    bool next_member(char close) {
        skip_space();
        if (*p_ == ',') {
            ++p_;
            skip_space();
            return true;
        }
        expect(close);
        return false;
    }

    void literal(std::string_view word) {
        // The padding after the text makes the comparison safe at its end.
        if (std::memcmp(p_, word.data(), word.size()) != 0) give_up();
        p_ += word.size();
    }

    // Moves to the first quote, backslash or control character (the NUL after the text included).
    void skip_plain() {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i last_control = _mm_set1_epi8(0x1F);
        for (;; p_ += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
            const __m128i special =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                             _mm_cmpeq_epi8(_mm_max_epu8(bytes, last_control), last_control));
            if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special)); mask != 0) {
                p_ += std::countr_zero(mask);
                return;
            }
        }
#else
        while (*p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) ++p_;
#endif
    }

    std::uint32_t hex4() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i, ++p_) {
            const int digit = hex_value(*p_);
            if (digit < 0) give_up();
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return value;
    }

    void escape() {
        ++p_;  // the backslash
        const char e = *p_++;
        switch (e) {
            case '"':
            case '\\':
            case '/': scratch_.push_back(e); return;
            case 'b': scratch_.push_back('\b'); return;
            case 'f': scratch_.push_back('\f'); return;
            case 'n': scratch_.push_back('\n'); return;
            case 'r': scratch_.push_back('\r'); return;
            case 't': scratch_.push_back('\t'); return;
            case 'u': break;
            default: give_up();
        }
        std::uint32_t code_point = hex4();
        if (code_point >= 0xDC00 && code_point <= 0xDFFF) give_up();  // a lone low surrogate
        if (code_point >= 0xD800 && code_point <= 0xDBFF) {
            if (p_[0] != '\\' || p_[1] != 'u') give_up();
            p_ += 2;
            const std::uint32_t low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) give_up();
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(scratch_, code_point);
    }

    // A string's decoded text: a view of the document itself, or of scratch_ (until the next string)
    // when it holds escapes. The text is valid UTF-8 already.
    std::string_view string() {
        const char* start = ++p_;  // after the opening quote
        skip_plain();
        if (*p_ == '"') return {start, static_cast<std::size_t>(p_++ - start)};
        scratch_.assign(start, p_);
        for (;;) {
            if (*p_ == '"') {
                ++p_;
                return scratch_;
            }
            if (*p_ != '\\') give_up();  // a control character, or the end of the text
            escape();
            const char* run = p_;
            skip_plain();
            scratch_.append(run, p_);
        }
    }

    // Takes the digits from here on into the number's significand, eight at a time, and returns how
    // many there were.
    static constexpr int kMostDigits = 1 << 20;

    int digit_run(Number& number) {
        int taken = 0;
        for (;;) {
            std::uint64_t word;
            std::memcpy(&word, p_, 8);  // the padding after the text makes this safe at its end
            const int digits = leading_digits(word);
            if (digits > 0) {
                number.significand =
                    number.significand * kPowersOfTen[static_cast<std::size_t>(digits)] + digits_value(word, digits);
                number.digits += digits;
                taken += digits;
                p_ += digits;
            }
            if (digits < 8) return taken;
            if (taken > kMostDigits) give_up();  // the counts stay far from overflowing an int
        }
    }

    // A number checked against the JSON grammar. Numbers near the limits of a double (more than 300
    // integer digits, positive exponents from 300) go the exact way, which refuses some of them as
    // the JSON library does.
    Number number() {
        Number number;
        const char* start = p_;
        if (*p_ == '-') {
            number.negative = true;
            ++p_;
        }
        if (*p_ == '0') {
            ++p_;
            number.digits = 1;
        } else if (is_digit(*p_)) {
            digit_run(number);
        } else {
            give_up();
        }
        if (p_ - start > 300) give_up();
        if (*p_ == '.') {
            ++p_;
            if (!is_digit(*p_)) give_up();
            number.exponent = -digit_run(number);
        }
        if (*p_ == 'e' || *p_ == 'E') {
            ++p_;
            const bool minus = *p_ == '-';
            if (*p_ == '+' || *p_ == '-') ++p_;
            const char* digits = p_;
            int written = 0;
            for (; is_digit(*p_) && p_ - digits < 4; ++p_) written = written * 10 + (*p_ - '0');
            if (p_ == digits || p_ - digits > 3 || (!minus && written >= 300)) give_up();
            number.exponent += minus ? -written : written;
        }
        number.text = {start, static_cast<std::size_t>(p_ - start)};
        return number;
    }

    // Reads a key and returns the index of its field, or fields.size() for an unknown key. Files
    // mostly write keys in table order: the field after the last one found is tried first, straight
    // on the text, before the key is scanned like any string.
    std::size_t key_field(std::span<const JsonField> fields, std::size_t next) {
        if (next < fields.size()) {
            const std::size_t length = fields[next].key.size();
            if (p_[1 + length] == '"' && is_key(fields[next], p_ + 1, length)) {
                p_ += length + 2;
                return next;
            }
        }
        const char* start = p_ + 1;
        const std::string_view key = string();
        const bool in_text = key.data() == start;  // else decoded into scratch_, which has no padding
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (in_text ? is_key(fields[i], key.data(), key.size()) : fields[i].key == key) return i;
        }
        return fields.size();
    }

    void read_record(const JsonRecord& table, void* record) {
        ++p_;  // the opening brace
        const std::span<const JsonField> fields = table.fields;
        std::uint64_t seen = 0;
        std::size_t next = 0;  // files write their keys in table order: look there first
        skip_space();
        if (*p_ == '}') {
            ++p_;
        } else {
            for (;;) {
                if (*p_ != '"') give_up();
                const std::size_t found = key_field(fields, next);
                after(':');
                if (found < fields.size()) {
                    const std::uint64_t bit = std::uint64_t{1} << found;
                    if (seen & bit) give_up();  // a key twice
                    seen |= bit;
                    next = found + 1;
                    read_field(fields[found], record);
                } else {
                    skip_value();
                }
                if (next_member('}')) continue;
                break;
            }
        }
        if ((seen & table.required) != table.required) give_up();  // a required key missing
    }

    void read_field(const JsonField& field, void* record) {
        if (*p_ == 'n') {
            literal("null");
            if (field.presence == Presence::Required) give_up();
            return;  // the same as absent
        }
        JsonScalar value;
        switch (field.kind) {
            case JsonKind::Text:
                if (*p_ != '"') give_up();
                value.text = string();
                break;
            case JsonKind::Enumeration: {
                if (*p_ != '"') give_up();
                const std::string_view text = string();
                const auto found = std::find(field.spellings.begin(), field.spellings.end(), text);
                if (found == field.spellings.end()) give_up();
                value.choice = static_cast<std::size_t>(found - field.spellings.begin());
                break;
            }
            case JsonKind::Float: {
                if (*p_ != '-' && !is_digit(*p_)) give_up();
                const std::optional<double> figure = number_value(number());
                if (!figure) give_up();
                value.number = *figure;
                break;
            }
            case JsonKind::U32: {
                if (*p_ != '-' && !is_digit(*p_)) give_up();
                const std::optional<std::uint32_t> count = parse_json_u32(number().text);
                if (!count) give_up();
                value.count = *count;
                break;
            }
            case JsonKind::Record:
                if (*p_ != '{') give_up();
                return read_record(*field.table, field.open(record));
            case JsonKind::RecordList: return read_list(field, record);
            case JsonKind::Any: give_up();
        }
        field.store(record, value);
    }

    // A long list grows at once to the size the rest of the text suggests, from the text its first
    // elements took, instead of doubling: one move of a few hundred elements, and fresh pages only
    // for what is written. When text follows the list, the guess is too large; what it costs is room
    // never written, at most twice as many bytes as the rest of the text.
    void make_room(const JsonField& field, void* record, const char* list_start) {
        const std::size_t size = field.list_size(record);
        if (size < 256 || size < field.list_capacity(record)) return;
        const std::size_t element_bytes = field.list_storage(record).second / size;
        const double text_per_element = static_cast<double>(p_ - list_start) / static_cast<double>(size);
        const auto rest = static_cast<std::size_t>(static_cast<double>(end_ - p_) / text_per_element * 1.05);
        const std::size_t most = 2 * static_cast<std::size_t>(end_ - p_) / element_bytes;
        field.list_reserve(record, size + std::clamp(rest, size, std::max(size, most)) + 1);
        // Room for millions of records: a few huge pages where the system gives them, instead of a page
        // fault every four kilobytes (a hint; the memory works the same without). Only for room the
        // allocator maps on its own: a hint on the shared heap would split its mapping, load after load.
        const auto [room, room_bytes] = field.list_storage(record);
        if (room_bytes < kOwnMapping) return;
        const auto first = (reinterpret_cast<std::uintptr_t>(room) + kPage - 1) & ~(kPage - 1);
        const auto last = (reinterpret_cast<std::uintptr_t>(room) + room_bytes) & ~(kPage - 1);
        if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }

    void read_list(const JsonField& field, void* record) {
        expect('[');
        const char* start = p_;
        skip_space();
        if (*p_ == ']') {
            ++p_;
            return;
        }
        for (;;) {
            if (*p_ != '{') give_up();
            poll_.advance();
            make_room(field, record, start);
            read_record(*field.table, field.open(record));
            if (!next_member(']')) return;
        }
    }

    void member_name() {
        skip_space();
        if (*p_ != '"') give_up();
        string();
        skip_space();
        expect(':');
    }

    // The value of an unknown key: checked as JSON and dropped, without recursion.
    void skip_value() {
        std::array<char, kMaxSkipDepth> open{};  // the closing bracket of each container entered
        std::size_t depth = 0;
        for (;;) {
            poll_.advance();
            skip_space();
            switch (*p_) {
                case '{':
                case '[': {
                    if (depth == kMaxSkipDepth) give_up();
                    const char close = *p_ == '{' ? '}' : ']';
                    ++p_;
                    open[depth++] = close;
                    skip_space();
                    if (*p_ == close) {
                        ++p_;
                        --depth;
                        break;
                    }
                    if (close == '}') member_name();
                    continue;  // its first value
                }
                case '"': string(); break;
                case 't': literal("true"); break;
                case 'f': literal("false"); break;
                case 'n': literal("null"); break;
                default: number();
            }
            // A value has ended: the next one in its container, or the end of containers.
            for (;;) {
                if (depth == 0) return;
                skip_space();
                if (*p_ == ',') {
                    ++p_;
                    if (open[depth - 1] == '}') member_name();
                    break;
                }
                expect(open[depth - 1]);
                --depth;
            }
        }
    }

    const char* p_;
    const char* end_;
    InterruptionPoll poll_;
    std::string scratch_;
};

}  // namespace

bool read_json_fast(const JsonFormat& format, const FileText& text, void* record, Interruption* interruption) {
    if (text.data() == nullptr) return false;
    try {
        FastReader(text, interruption).document(format.root, record);
        return true;
    } catch (const GiveUp&) {
        return false;
    }
}

}  // namespace vorn::files
