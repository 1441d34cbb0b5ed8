// The JSON result document. It is written straight into one growing buffer, byte for byte
// what yyjson's writer produces for the same document (compact, non-ASCII unescaped), without
// building a tree of values first: the document of a large file costs one pass and its own
// size in memory. Lines that are not valid UTF-8 (the decoder lets a few invalid bytes
// through) are written with U+FFFD for each ill-formed part, so the document is never refused
// for a line's content; the accessors keep the bytes as they are.
#include "internal.hpp"

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

// True when none of the 8 bytes needs a look: no control byte, quote, backslash or non-ASCII.
bool plain8(uint64_t x) {
    const auto has_zero = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const uint64_t control = (x - 0x20 * kOnes) & ~x & kHighs;
    return ((x & kHighs) | control | has_zero(x ^ ('"' * kOnes)) | has_zero(x ^ ('\\' * kOnes))) == 0;
}

// A malloc'd text that grows by doubling; it becomes the state's document as it is.
class Buffer {
public:
    explicit Buffer(size_t guess) { grow(guess); }
    ~Buffer() { std::free(data_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    void put(std::string_view s) {
        if (!room(s.size())) return;
        std::memcpy(data_ + len_, s.data(), s.size());
        len_ += s.size();
    }
    void put(char c) {
        if (room(1)) data_[len_++] = c;
    }
    void put_int(long long v) {
        char tmp[24];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        put(std::string_view(tmp, static_cast<size_t>(r.ptr - tmp)));
    }
    void put_string(std::string_view s);
    // Hands the text over (NUL-terminated), or nullptr when memory ran out on the way.
    char* release() {
        if (failed_ || !room(1)) return nullptr;
        data_[len_] = '\0';
        char* out = data_;
        if (void* shrunk = std::realloc(data_, len_ + 1)) out = static_cast<char*>(shrunk);
        data_ = nullptr;
        return out;
    }

private:
    bool room(size_t n) {
        if (failed_) return false;
        if (cap_ - len_ > n) return true;
        return grow(std::max(cap_ * 2, len_ + n + 1));
    }
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

void Buffer::put_string(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    put('"');
    size_t i = 0, run = 0; // s[run, i) is copied as it stands
    while (i < s.size()) {
        if (i + 8 <= s.size()) {
            uint64_t x;
            std::memcpy(&x, s.data() + i, 8);
            if (plain8(x)) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            // The common well-formed two- and three-byte characters, checked directly.
            const auto cont = [&](size_t k) { return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
            if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
                i += 2;
                continue;
            }
            if (((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) && cont(i + 1) && cont(i + 2)) {
                i += 3;
                continue;
            }
            size_t bad = 0;
            if (const size_t n = utf8_sequence(s, i, bad)) {
                i += n;
                continue;
            }
            put(s.substr(run, i - run));
            put("\xEF\xBF\xBD");
            i += bad;
            run = i;
            continue;
        }
        if (c >= 0x20 && c != '"' && c != '\\') {
            ++i;
            continue;
        }
        put(s.substr(run, i - run));
        switch (c) {
        case '"': put("\\\""); break;
        case '\\': put("\\\\"); break;
        case '\b': put("\\b"); break;
        case '\f': put("\\f"); break;
        case '\n': put("\\n"); break;
        case '\r': put("\\r"); break;
        case '\t': put("\\t"); break;
        default: {
            const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            put(std::string_view(esc, 6));
        }
        }
        run = ++i;
    }
    put(s.substr(run));
    put('"');
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
        out.put(i ? R"(,{"start":)" : R"({"start":)");
        out.put_int(c.start_ms);
        out.put(R"(,"end":)");
        out.put_int(c.end_ms);
        out.put(R"(,"lines":[)");
        for (int32_t j = 0; j < c.lines.count; ++j) {
            if (j) out.put(',');
            out.put_string(c.lines.items[j]);
        }
        out.put(']');
        if (c.is_danmu) {
            out.put(R"(,"danmu":true,"mode":)");
            out.put_int(c.mode);
            out.put(R"(,"color":)");
            out.put_int(c.color);
            out.put(R"(,"fontsize":)");
            if (!real.write(static_cast<double>(c.fontsize), out)) return nullptr;
        }
        out.put('}');
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
