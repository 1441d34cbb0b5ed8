// AcFun danmaku: a JSON document in which every object with string members "c"
// (time,colour,mode,size,...) and "m" (the text) is one comment, wherever it stands.
//
// The document is read in one streamed pass over the text instead of into a tree: a tree
// held a copy of the input plus a record per value, several times the file in memory, and a
// comment's text can stay a view into the input when it holds no escape. The reader accepts
// exactly strict JSON (RFC 8259): UTF-8 checked inside strings, surrogate escapes paired,
// numbers whose double would be infinite refused, one value and nothing after it.
#include "formats/danmaku.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cuekit {
namespace {

// Containers at this depth (the root has depth 0) are not looked into.
constexpr int kMaxDepth = 5;

// The smallest decimal that rounds to infinity as a double (halfway between the largest
// double and 2^1024, which rounds up), as its significant digits: 0.DIGITS x 10^309.
constexpr std::string_view kInfDigits =
    "17976931348623158079372897140530341507993413271003782693617377898044496829276475094664901797758720709633028641669"
    "28879109465555478519404026306574886715058206819089020007083836762738548458177115317644757302700698555713669596228"
    "429148198608349364752927190741684443655107043427115596995080930428801779041744977920";
constexpr int64_t kInfExponent = 309;

bool is_json_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// How a value is reached, which decides what the walk does with it: an array element that is
// a comment is not looked into; an object reached as the root or as a member value is
// searched even when it is a comment itself.
enum class Role { element, member };

// One comment object's first "c" and "m" members, as far as they have been read.
struct CommentParts {
    bool seen_c = false;
    bool seen_m = false;
    bool c_ok = false; // a string with at least one token
    bool m_ok = false; // a string
    std::optional<DanmakuTokens> tokens;
    std::string_view m;
    std::string m_buf; // the text of m when it needed unescaping

    bool failed() const { return (seen_c && !c_ok) || (seen_m && !m_ok); }
    bool complete() const { return c_ok && m_ok; }
};

class Reader {
public:
    Reader(Store& st, std::string_view text)
        : st_(st), p_(text.data()), end_(text.data() + text.size()) {}

    // False when the text is not one strict JSON value.
    bool document() {
        if (p_ == end_) return false;
        space();
        if (p_ == end_) return false;
        if (!walk_value(0, Role::member)) return false;
        space();
        return p_ == end_;
    }

private:
    void space() {
        while (p_ < end_ && is_json_space(*p_)) ++p_;
    }

    bool literal(std::string_view word) {
        if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    // A number; false when it breaks the grammar or its double would be infinite.
    bool number() {
        if (p_ < end_ && *p_ == '-') ++p_;
        const char* const int_start = p_;
        if (p_ == end_ || !is_digit(static_cast<unsigned char>(*p_))) return false;
        if (*p_ == '0') {
            ++p_;
        } else {
            while (p_ < end_ && is_digit(static_cast<unsigned char>(*p_))) ++p_;
        }
        const char* const int_end = p_;
        const char* frac_start = p_;
        const char* frac_end = p_;
        if (p_ < end_ && *p_ == '.') {
            frac_start = ++p_;
            while (p_ < end_ && is_digit(static_cast<unsigned char>(*p_))) ++p_;
            if (p_ == frac_start) return false;
            frac_end = p_;
        }
        int64_t exponent = 0;
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            bool negative = false;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) negative = *p_++ == '-';
            const char* const exp_start = p_;
            while (p_ < end_ && is_digit(static_cast<unsigned char>(*p_))) {
                if (exponent < (int64_t{1} << 40)) exponent = exponent * 10 + (*p_ - '0');
                ++p_;
            }
            if (p_ == exp_start) return false;
            if (negative) exponent = -exponent;
        }
        return !overflows(std::string_view(int_start, static_cast<size_t>(int_end - int_start)),
                          std::string_view(frac_start, static_cast<size_t>(frac_end - frac_start)), exponent);
    }

    // Whether int.frac x 10^exponent rounds to infinity as a double.
    static bool overflows(std::string_view int_digits, std::string_view frac_digits, int64_t exponent) {
        if (exponent <= 0 && int_digits.size() < 300) return false;
        // Significant digits, as 0.DIGITS x 10^scale.
        size_t lead = 0;
        while (lead < int_digits.size() && int_digits[lead] == '0') ++lead;
        int64_t scale = static_cast<int64_t>(int_digits.size() - lead) + exponent;
        std::string digits(int_digits.substr(lead));
        if (digits.empty()) {
            size_t zeros = 0;
            while (zeros < frac_digits.size() && frac_digits[zeros] == '0') ++zeros;
            scale -= static_cast<int64_t>(zeros);
            digits.assign(frac_digits.substr(zeros));
        } else {
            digits.append(frac_digits);
        }
        while (!digits.empty() && digits.back() == '0') digits.pop_back();
        if (digits.empty() || scale < kInfExponent) return false;
        if (scale > kInfExponent) return true;
        return std::string_view(digits) >= kInfDigits;
    }

    // The next byte of a string that needs a look: a quote, a backslash, a control character
    // or a non-ASCII byte.
    void plain_run() {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i space = _mm_set1_epi8(0x20);
        while (end_ - p_ >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
            // Signed compare: bytes from 0x80 are negative, so they count as "below" too.
            const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                             _mm_cmplt_epi8(v, space));
            const int mask = _mm_movemask_epi8(hit);
            if (mask != 0) {
                p_ += __builtin_ctz(static_cast<unsigned>(mask));
                return;
            }
            p_ += 16;
        }
#endif
        while (p_ < end_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) return;
            ++p_;
        }
    }

    // Four hex digits after "\u", or -1.
    int32_t hex4() {
        if (end_ - p_ < 4) return -1;
        int32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hex_value(static_cast<unsigned char>(p_[i]));
            if (d < 0) return -1;
            v = v * 16 + d;
        }
        p_ += 4;
        return v;
    }

    // A string, p_ at its opening quote. With `out`, its value: a view of the text when it
    // holds no escape, otherwise unescaped into `buf`.
    bool string(std::string_view* out, std::string& buf) {
        ++p_;
        const char* run = p_;
        bool escaped = false;
        for (;;) {
            plain_run();
            if (p_ == end_) return false;
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') break;
            if (c < 0x20) return false;
            if (c >= 0x80) {
                // Non-ASCII text comes in runs of characters: they are checked one after another.
                do {
                    size_t bad = 0;
                    const size_t n = utf8_sequence(std::string_view(p_, static_cast<size_t>(end_ - p_)), 0, bad);
                    if (n == 0) return false;
                    p_ += n;
                } while (p_ < end_ && static_cast<unsigned char>(*p_) >= 0x80);
                continue;
            }
            // A backslash: the text so far moves to the buffer, unescaped from here on.
            if (out) {
                if (!escaped) buf.clear();
                buf.append(run, static_cast<size_t>(p_ - run));
            }
            escaped = true;
            ++p_;
            if (p_ == end_) return false;
            const char e = *p_++;
            char plain = 0;
            switch (e) {
            case '"': plain = '"'; break;
            case '\\': plain = '\\'; break;
            case '/': plain = '/'; break;
            case 'b': plain = '\b'; break;
            case 'f': plain = '\f'; break;
            case 'n': plain = '\n'; break;
            case 'r': plain = '\r'; break;
            case 't': plain = '\t'; break;
            case 'u': {
                int32_t v = hex4();
                if (v < 0 || (v >= 0xDC00 && v <= 0xDFFF)) return false;
                if (v >= 0xD800 && v <= 0xDBFF) {
                    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
                    p_ += 2;
                    const int32_t low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF) return false;
                    v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
                }
                if (out) { // U+0000 stays a NUL byte, as JSON has it; encode_utf8 would replace it
                    char bytes[4] = {};
                    buf.append(bytes, v == 0 ? 1 : encode_utf8(static_cast<uint32_t>(v), bytes));
                }
                run = p_;
                continue;
            }
            default:
                return false;
            }
            if (out) buf += plain;
            run = p_;
        }
        if (out) {
            if (escaped) {
                buf.append(run, static_cast<size_t>(p_ - run));
                *out = buf;
            } else {
                *out = std::string_view(run, static_cast<size_t>(p_ - run));
            }
        }
        ++p_;
        return true;
    }

    bool scalar() {
        switch (*p_) {
        case '"': return string(nullptr, key_buf_);
        case 't': return literal("true");
        case 'f': return literal("false");
        case 'n': return literal("null");
        default: return number();
        }
    }

    // A value the walk does not look into, checked without recursion however deep it nests.
    bool skip_value() {
        std::vector<bool>& open = nesting_; // true: an object
        open.clear();
        for (;;) {
            // p_ at a value.
            if (p_ == end_) return false;
            if (*p_ == '[' || *p_ == '{') {
                const bool object = *p_ == '{';
                bool empty = false;
                if (!open_container(object, empty)) return false;
                if (!empty) {
                    open.push_back(object);
                    if (object && !member_name()) return false;
                    continue;
                }
            } else if (!scalar()) {
                return false;
            }
            // After a value: close containers or go on to the next element.
            for (;;) {
                if (open.empty()) return true;
                const bool object = open.back();
                bool closed = false;
                if (!next_element(object, closed)) return false;
                if (!closed) {
                    if (object && !member_name()) return false;
                    break;
                }
                open.pop_back();
            }
        }
    }

    // Past the opening bracket at p_ to the first element, or past the closing one (`empty`).
    bool open_container(bool object, bool& empty) {
        ++p_;
        space();
        if (p_ == end_) return false;
        empty = *p_ == (object ? '}' : ']');
        if (empty) ++p_;
        return true;
    }

    // After an element: past the comma to the next element, or past the closing bracket
    // (`closed`). False for anything else.
    bool next_element(bool object, bool& closed) {
        space();
        if (p_ == end_) return false;
        closed = *p_ == (object ? '}' : ']');
        if (!closed && *p_ != ',') return false;
        ++p_;
        if (!closed) space();
        return closed || p_ != end_;
    }

    // A member's name and colon, leaving p_ at its value. With `key`, the name's value.
    bool member_name(std::string_view* key = nullptr) {
        if (p_ == end_ || *p_ != '"' || !string(key, key_buf_)) return false;
        space();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        space();
        return p_ != end_;
    }

    // The value at p_, walked as the comment search has it at `depth`.
    bool walk_value(int depth, Role role) {
        if (*p_ == '{') return depth < kMaxDepth || role == Role::element ? walk_object(depth, role) : skip_value();
        if (*p_ == '[') return depth < kMaxDepth ? walk_array(depth) : skip_value();
        return scalar();
    }

    bool walk_array(int depth) {
        bool done = false;
        if (!open_container(false, done)) return false;
        while (!done)
            if (!walk_value(depth + 1, Role::element) || !next_element(false, done)) return false;
        return true;
    }

    bool add_comment(const CommentParts& parts) {
        const DanmakuTokens& tok = *parts.tokens;
        DanmakuStyle style;
        // A comment cannot appear before the video starts.
        const int32_t start_ms = std::max(danmaku_time_ms(tok[0]), int32_t{0});
        if (tok[1]) style.color = danmaku_color(tok[1]);
        if (tok[2]) style.mode = danmaku_mode(tok[2]);
        if (tok[3]) style.fontsize = danmaku_fontsize(tok[3], style.fontsize);
        return add_danmaku(st_, start_ms, style, parts.m);
    }

    void drop_to(size_t count) {
        while (st_.count() > count) drop_last_cue(st_);
    }

    // Whether an object is a comment: unknown until its first "c" and "m" decide.
    enum class Is { unknown, no, yes };

    // An object at `depth`. Its own cue comes before those of anything it holds, and an array
    // element that is a comment is not looked into; the first "c" and "m" decide, and they may
    // come after members already looked into. Those members' cues are then taken back: an
    // element's for good, a member value's to be found again after its own cue, by reading the
    // object once more with `is` already known (a comment's cue then already added).
    bool walk_object(int depth, Role role, Is is = Is::unknown) {
        const char* const start = p_;
        const size_t first_cue = st_.count();
        CommentParts parts;
        bool done = false;
        if (!open_container(true, done)) return false;
        while (!done) {
            std::string_view key;
            if (!member_name(&key)) return false;
            const bool is_c = is == Is::unknown && !parts.seen_c && key == "c";
            const bool is_m = is == Is::unknown && !parts.seen_m && key == "m";
            if ((is_c || is_m) && *p_ == '"') {
                std::string_view value;
                std::string c_buf;
                if (!string(&value, is_c ? c_buf : parts.m_buf)) return false;
                if (is_c) {
                    parts.tokens.emplace(value);
                    parts.c_ok = parts.tokens->count() > 0;
                } else {
                    parts.m = value;
                    parts.m_ok = true;
                }
            } else if (depth < kMaxDepth && (role == Role::member || is != Is::yes)) {
                if (!walk_value(depth + 1, Role::member)) return false;
            } else if (!(*p_ == '[' || *p_ == '{' ? skip_value() : scalar())) {
                return false;
            }
            parts.seen_c = parts.seen_c || is_c;
            parts.seen_m = parts.seen_m || is_m;
            if (is == Is::unknown && parts.failed()) is = Is::no;
            if (is == Is::unknown && parts.complete()) {
                const bool taken_back = st_.count() > first_cue;
                drop_to(first_cue);
                is = add_comment(parts) ? Is::yes : Is::no;
                // A member value's members, or a refused element's, are read again behind it.
                if (taken_back && (role == Role::member || is == Is::no)) {
                    p_ = start;
                    return walk_object(depth, role, is);
                }
            }
            if (!next_element(true, done)) return false;
        }
        return true;
    }

    Store& st_;
    const char* p_;
    const char* const end_;
    std::string key_buf_;
    std::vector<bool> nesting_;
};

} // namespace

bool probe_acfun(std::string_view t) {
    return (t.starts_with('[') || t.starts_with('{')) && contains(t, "\"c\"") && contains(t, "\"m\"");
}

int parse_acfun(Store& st, std::string_view text) {
    // The whole length is read, so a NUL inside makes the document invalid instead of cutting it.
    const size_t before = st.count();
    Reader reader(st, text);
    if (!reader.document()) {
        while (st.count() > before) drop_last_cue(st);
        set_error(st, "Acfun: invalid JSON");
        return SUB_ERR_PARSE;
    }
    return finish_parse(st, SUB_FORMAT_ACFUN, st.count() > before, "no Acfun danmaku");
}

} // namespace cuekit
