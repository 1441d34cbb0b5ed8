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
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cuekit {
namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Marks (high bit of the byte) the bytes among 8 that need a look: control bytes, quotes,
// backslashes and non-ASCII. Marks above the lowest may be spurious; the lowest is exact.
uint64_t special8(uint64_t x) {
    const auto has_zero = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const uint64_t control = (x - 0x20 * kOnes) & ~x & kHighs;
    return (x & kHighs) | control | has_zero(x ^ ('"' * kOnes)) | has_zero(x ^ ('\\' * kOnes));
}

// Where the document goes: either one malloc'd text that grows by doubling (it becomes the
// caller's document as it is), or a fixed window handed to a sink whenever it is nearly
// full. Writers reserve room for a whole piece first (`reserve`, at most kPieceMax bytes),
// then write through a raw cursor.
class Buffer {
public:
    static constexpr size_t kWindow = size_t{1} << 16;
    static constexpr size_t kPieceMax = kWindow / 2;

    explicit Buffer(size_t guess) { grow(guess); }
    Buffer(JsonSinkFn sink, void* context) : sink_(sink), context_(context) { grow(kWindow); }
    ~Buffer() { std::free(data_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // A cursor with room for at least `n` more bytes, or nullptr when memory ran out or the
    // sink refused a piece.
    char* reserve(size_t n) {
        if (failed_) return nullptr;
        if (cap_ - len_ <= n) {
            if (sink_) {
                if (!flush()) return nullptr;
            } else if (!grow(std::max(cap_ * 2, len_ + n + 1))) {
                return nullptr;
            }
        }
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
    // Sends what is left to the sink; false when anything on the way failed.
    bool finish() { return !failed_ && flush(); }
    void fail() { failed_ = true; }

    static char* copy(char* p, std::string_view s) {
        if (!s.empty()) std::memcpy(p, s.data(), s.size()); // an empty line's view may be null
        return p + s.size();
    }
    // Literals are copied with their size known at compile time.
    template <size_t N>
    static char* lit(char* p, const char (&s)[N]) {
        std::memcpy(p, s, N - 1);
        return p + N - 1;
    }
    static char* integer(char* p, long long v) { return std::to_chars(p, p + 24, v).ptr; }
    // The inside of a JSON string; needs room for 6 bytes per input byte.
    static char* escaped(char* p, std::string_view s);

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
    bool flush() {
        if (len_ && !sink_(context_, data_, len_)) failed_ = true;
        len_ = 0;
        return !failed_;
    }
    char* data_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
    bool failed_ = false;
    JsonSinkFn sink_ = nullptr;
    void* context_ = nullptr;
};

#ifdef __SSE2__
// Whether `s` goes into a JSON string as it is: no byte to escape and only UTF-8 that needs
// no range check beyond its pattern (two-byte and three-byte characters whose lead byte
// admits every continuation byte). Sixteen bytes a step, the pattern found as the decoder's
// check finds it; anything else (four-byte characters included) is left to the careful path.
bool plain_json_text(std::string_view s) {
    const __m128i zero = _mm_setzero_si128();
    const auto eq = [](__m128i x, int c) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(c))); };
    const auto at_least = [&](__m128i x, int lead) {
        return _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(static_cast<char>(lead - 1))), _mm_cmplt_epi8(x, zero));
    };
    __m128i prev2 = zero, prev3 = zero;
    __m128i errors = zero;
    const auto step = [&](__m128i x) {
        const __m128i cont = _mm_cmplt_epi8(x, _mm_set1_epi8(static_cast<char>(0xC0)));
        const __m128i l2 = at_least(x, 0xC0), l3 = at_least(x, 0xE0);
        const __m128i need = _mm_or_si128(_mm_or_si128(_mm_slli_si128(l2, 1), _mm_srli_si128(prev2, 15)),
                                          _mm_or_si128(_mm_slli_si128(l3, 2), _mm_srli_si128(prev3, 14)));
        const __m128i control = _mm_and_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)), _mm_cmpgt_epi8(x, _mm_set1_epi8(-1)));
        const __m128i quoted = _mm_or_si128(eq(x, '"'), eq(x, '\\'));
        const __m128i leads = _mm_or_si128(_mm_or_si128(eq(x, 0xC0), eq(x, 0xC1)),
                                           _mm_or_si128(_mm_or_si128(eq(x, 0xE0), eq(x, 0xED)), at_least(x, 0xF0)));
        errors = _mm_or_si128(errors, _mm_or_si128(_mm_xor_si128(need, cont), _mm_or_si128(_mm_or_si128(control, quoted), leads)));
        prev2 = l2;
        prev3 = l3;
    };
    size_t i = 0;
    for (; i + 16 <= s.size(); i += 16) step(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i)));
    // The rest padded with a byte that is plain and no continuation, so that a character cut
    // by the end shows as an error.
    alignas(16) char tail[16];
    std::memset(tail, 'a', sizeof tail);
    if (i < s.size()) std::memcpy(tail, s.data() + i, s.size() - i);
    step(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)));
    if (i < s.size()) step(_mm_set1_epi8('a'));
    return _mm_movemask_epi8(errors) == 0;
}
#else
bool plain_json_text(std::string_view) { return false; }
#endif

char* Buffer::escaped(char* p, std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (plain_json_text(s)) return copy(p, s);
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


// The document's cues read from the C records or from the lean store.
struct RecordCues {
    const sub_state& st;
    size_t count() const { return static_cast<size_t>(st.count); }
    size_t text_len() const { return static_cast<size_t>(st.text_len); }
    const char* format() const { return format_name(st.format); }
    int32_t start(size_t i) const { return st.cues[i].start_ms; }
    int32_t end(size_t i) const { return st.cues[i].end_ms; }
    size_t line_count(size_t i) const { return static_cast<size_t>(st.cues[i].lines.count); }
    std::string_view line(size_t i, size_t j) const { return st.cues[i].lines.items[j]; }
    const sub_cue* danmaku(size_t i) const { return st.cues[i].is_danmu ? &st.cues[i] : nullptr; }
};

struct StoreCues {
    const Store& st;
    size_t count() const { return st.count(); }
    size_t text_len() const { return st.text().size(); }
    const char* format() const { return format_name(st.format); }
    int32_t start(size_t i) const { return st.cue(i).start_ms; }
    int32_t end(size_t i) const { return st.cue(i).end_ms; }
    size_t line_count(size_t i) const { return st.cue(i).line_count; }
    std::string_view line(size_t i, size_t j) const { return st.line(i, j); }
    const DanmakuRecord* danmaku(size_t i) const {
        const DanmakuRecord* d = st.danmaku(i);
        return d && d->is_danmu ? d : nullptr;
    }
};

// The length of the next piece of a long line: at most `max` bytes, never cutting a UTF-8
// sequence (a cut in one would read as ill-formed on both sides).
size_t piece_length(std::string_view s, size_t max) {
    if (s.size() <= max) return s.size();
    const auto continuation = [&](size_t k) { return (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    size_t cut = max;
    // A sequence has at most three continuation bytes: past four in a row, any cut is safe.
    for (int back = 0; back < 3 && continuation(cut); ++back) --cut;
    return continuation(cut) ? max : cut;
}

template <typename Cues>
bool write_document(const Cues& src, Buffer& out) {
    RealText real;
    out.put(R"({"format":")");
    out.put(src.format());
    out.put(R"(","cues":[)");
    const size_t n = src.count();
    for (size_t i = 0; i < n; ++i) {
        // The fixed members of a cue fit in 128 bytes; each line gets its own reservations.
        char* p = out.reserve(128);
        if (!p) return false;
        if (i) *p++ = ',';
        p = Buffer::lit(p, R"({"start":)");
        p = Buffer::integer(p, src.start(i));
        p = Buffer::lit(p, R"(,"end":)");
        p = Buffer::integer(p, src.end(i));
        p = Buffer::lit(p, R"(,"lines":[)");
        out.commit(p);
        const size_t lines = src.line_count(i);
        for (size_t j = 0; j < lines; ++j) {
            std::string_view line = src.line(i, j);
            constexpr size_t kPiece = (Buffer::kPieceMax - 8) / 6;
            p = out.reserve(std::min(line.size(), kPiece) * 6 + 8);
            if (!p) return false;
            if (j) *p++ = ',';
            *p++ = '"';
            // A long line is escaped piece by piece, each with a reservation of its own.
            for (;;) {
                const size_t take = piece_length(line, kPiece);
                p = Buffer::escaped(p, line.substr(0, take));
                line.remove_prefix(take);
                if (line.empty()) break;
                out.commit(p);
                p = out.reserve(std::min(line.size(), kPiece) * 6 + 8);
                if (!p) return false;
            }
            *p++ = '"';
            out.commit(p);
        }
        p = out.reserve(128);
        if (!p) return false;
        *p++ = ']';
        if (const auto* d = src.danmaku(i)) {
            p = Buffer::lit(p, R"(,"danmu":true,"mode":)");
            p = Buffer::integer(p, d->mode);
            p = Buffer::lit(p, R"(,"color":)");
            p = Buffer::integer(p, d->color);
            p = Buffer::lit(p, R"(,"fontsize":)");
            out.commit(p);
            if (!real.write(static_cast<double>(d->fontsize), out)) return false;
            p = out.reserve(1);
            if (!p) return false;
        }
        *p++ = '}';
        out.commit(p);
    }
    out.put("]}");
    return out.reserve(0) != nullptr;
}

template <typename Cues>
char* write_text(const Cues& src) {
    Buffer out(src.text_len() + src.count() * 48 + 64);
    try {
        if (!write_document(src, out)) return nullptr;
    } catch (const std::bad_alloc&) { // a font size's text
        return nullptr;
    }
    return out.release();
}

} // namespace

char* write_json(const sub_state& st) { return write_text(RecordCues{st}); }
char* write_json(const Store& st) { return write_text(StoreCues{st}); }

bool stream_json(const Store& st, JsonSinkFn sink, void* context) {
    Buffer out(sink, context);
    try {
        if (!write_document(StoreCues{st}, out)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return out.finish();
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
