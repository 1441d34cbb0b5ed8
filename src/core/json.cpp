// The JSON result document. It is written straight into one growing buffer, byte for byte
// what yyjson's writer produces for the same document (compact, non-ASCII unescaped), without
// building a tree of values first: the document of a large file costs one pass and its own
// size in memory. Lines that are not valid UTF-8 (the decoder lets a few invalid bytes
// through) are written with U+FFFD for each ill-formed part, so the document is never refused
// for a line's content; the accessors keep the bytes as they are.
#include "core/core.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <yyjson.h>

namespace cuekit {
namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 with `bad` set to the length of
// the maximal ill-formed subpart there (at least 1), as the Unicode standard counts them.
size_t utf8_sequence(std::string_view s, size_t i, size_t& bad) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size() || b(i + k) < lo || b(i + k) > hi) {
            bad = k;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Marks (high bit of the byte) the bytes among 8 that need a look: control bytes, quotes,
// backslashes and non-ASCII. Marks above the lowest may be spurious; the lowest is exact.
uint64_t special8(uint64_t x) {
    const auto has_zero = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const uint64_t control = (x - 0x20 * kOnes) & ~x & kHighs;
    return (x & kHighs) | control | has_zero(x ^ ('"' * kOnes)) | has_zero(x ^ ('\\' * kOnes));
}

// A malloc'd text that grows by doubling; it becomes the state's document as it is. Writers
// reserve room for a whole piece first (`reserve`), then write through a raw cursor.
class Buffer {
public:
    explicit Buffer(size_t guess) { grow(guess); }
    ~Buffer() { std::free(data_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // A cursor with room for at least `n` more bytes, or nullptr when memory ran out.
    char* reserve(size_t n) {
        if (failed_) return nullptr;
        if (cap_ - len_ <= n && !grow(std::max(cap_ * 2, len_ + n + 1))) return nullptr;
        return data_ + len_;
    }
    void commit(const char* end) { len_ = static_cast<size_t>(end - data_); }
    void put(std::string_view s) {
        if (char* p = reserve(s.size())) commit(copy(p, s));
    }
    // Hands the text over (NUL-terminated), or nullptr when memory ran out on the way.
    char* release() {
        char* p = reserve(1);
        if (!p) return nullptr;
        *p = '\0';
        char* out = data_;
        if (void* shrunk = std::realloc(data_, len_ + 1)) out = static_cast<char*>(shrunk);
        data_ = nullptr;
        return out;
    }

    static char* copy(char* p, std::string_view s) {
        std::memcpy(p, s.data(), s.size());
        return p + s.size();
    }
    // Literals are copied with their size known at compile time.
    template <size_t N>
    static char* lit(char* p, const char (&s)[N]) {
        std::memcpy(p, s, N - 1);
        return p + N - 1;
    }
    static char* integer(char* p, long long v) { return std::to_chars(p, p + 24, v).ptr; }
    // A JSON string; needs room for 6 bytes per input byte plus the quotes.
    static char* string(char* p, std::string_view s);

private:
    bool grow(size_t cap) {
        void* p = std::realloc(data_, cap);
        if (!p) {
            failed_ = true;
            return false;
        }
        data_ = static_cast<char*>(p);
        cap_ = cap;
        return true;
    }
    char* data_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
    bool failed_ = false;
};

char* Buffer::string(char* p, std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    *p++ = '"';
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        if (i + 8 <= n) {
            // Eight bytes are stored at once; the cursor moves past those before the first
            // byte that needs a look (room for 6 bytes per input byte covers the overshoot).
            uint64_t x;
            std::memcpy(&x, s.data() + i, 8);
            std::memcpy(p, &x, 8);
            const uint64_t m = special8(x);
            const size_t plain = m ? static_cast<size_t>(std::countr_zero(m)) / 8 : 8;
            p += plain;
            i += plain;
            if (plain == 8) continue;
        }
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            // The common well-formed two- and three-byte characters, checked directly.
            const auto cont = [&](size_t k) { return k < n && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
            size_t len = 0;
            if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
                p[0] = s[i];
                p[1] = s[i + 1];
                p += 2;
                i += 2;
                continue;
            }
            if (((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) && cont(i + 1) && cont(i + 2)) {
                p[0] = s[i];
                p[1] = s[i + 1];
                p[2] = s[i + 2];
                p += 3;
                i += 3;
                continue;
            }
            {
                size_t bad = 0;
                len = utf8_sequence(s, i, bad);
                if (len == 0) {
                    p = lit(p, "\xEF\xBF\xBD");
                    i += bad;
                    continue;
                }
            }
            p = copy(p, s.substr(i, len));
            i += len;
            continue;
        }
        ++i;
        switch (c) {
        case '"': p = lit(p, "\\\""); break;
        case '\\': p = lit(p, "\\\\"); break;
        case '\b': p = lit(p, "\\b"); break;
        case '\f': p = lit(p, "\\f"); break;
        case '\n': p = lit(p, "\\n"); break;
        case '\r': p = lit(p, "\\r"); break;
        case '\t': p = lit(p, "\\t"); break;
        default:
            if (c >= 0x20) {
                *p++ = static_cast<char>(c);
            } else {
                p = lit(p, "\\u00");
                *p++ = kHex[c >> 4];
                *p++ = kHex[c & 15];
            }
        }
    }
    *p++ = '"';
    return p;
}

// yyjson's text of a real: the shortest form that reads back, always with a fraction or an
// exponent. Font sizes repeat, so the last one is kept.
class RealText {
public:
    bool write(double v, Buffer& out) {
        if (!have_ || std::bit_cast<uint64_t>(v) != std::bit_cast<uint64_t>(last_)) {
            yyjson_mut_val val;
            yyjson_mut_set_real(&val, v);
            size_t n = 0;
            char* text = yyjson_mut_val_write(&val, 0, &n);
            if (!text) return false; // not finite: the document cannot hold it
            text_.assign(text, n);
            std::free(text);
            last_ = v;
            have_ = true;
        }
        out.put(text_);
        return true;
    }

private:
    double last_ = 0;
    bool have_ = false;
    std::string text_;
};

} // namespace

char* write_json(const sub_state& st) {
    Buffer out(static_cast<size_t>(st.text_len) + static_cast<size_t>(st.count) * 48 + 64);
    RealText real;
    out.put(R"({"format":")");
    out.put(format_name(st.format));
    out.put(R"(","cues":[)");
    for (int32_t i = 0; i < st.count; ++i) {
        const sub_cue& c = st.cues[i];
        // The fixed members of a cue fit in 128 bytes; each line gets its own reservation.
        char* p = out.reserve(128);
        if (!p) return nullptr;
        if (i) *p++ = ',';
        p = Buffer::lit(p, R"({"start":)");
        p = Buffer::integer(p, c.start_ms);
        p = Buffer::lit(p, R"(,"end":)");
        p = Buffer::integer(p, c.end_ms);
        p = Buffer::lit(p, R"(,"lines":[)");
        out.commit(p);
        for (int32_t j = 0; j < c.lines.count; ++j) {
            const std::string_view line(c.lines.items[j]);
            if (line.size() > (SIZE_MAX - 8) / 6) return nullptr;
            p = out.reserve(line.size() * 6 + 8);
            if (!p) return nullptr;
            if (j) *p++ = ',';
            out.commit(Buffer::string(p, line));
        }
        p = out.reserve(128);
        if (!p) return nullptr;
        *p++ = ']';
        if (c.is_danmu) {
            p = Buffer::lit(p, R"(,"danmu":true,"mode":)");
            p = Buffer::integer(p, c.mode);
            p = Buffer::lit(p, R"(,"color":)");
            p = Buffer::integer(p, c.color);
            p = Buffer::lit(p, R"(,"fontsize":)");
            out.commit(p);
            if (!real.write(static_cast<double>(c.fontsize), out)) return nullptr;
            p = out.reserve(1);
            if (!p) return nullptr;
        }
        *p++ = '}';
        out.commit(p);
    }
    out.put("]}");
    return out.release();
}

int build_json(sub_state& st) {
    std::free(st.json);
    st.json = nullptr;
    try {
        st.json = write_json(st);
    } catch (const std::bad_alloc&) { // a font size's text; the document is simply absent
        st.json = nullptr;
    }
    return st.json ? 0 : -1;
}

} // namespace cuekit
