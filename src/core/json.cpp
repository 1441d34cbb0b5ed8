// The JSON result document. It is written straight into one growing buffer, byte for byte
// what yyjson's writer produces for the same document (compact, non-ASCII unescaped), without
// building a tree of values first: the document of a large file costs one pass and its own
// size in memory. Lines that are not valid UTF-8 (the decoder lets a few invalid bytes
// through) are written with U+FFFD for each ill-formed part, so the document is never refused
// for a line's content; the accessors keep the bytes as they are.
#include "core/cues.hpp"
#include "text/decimal.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
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
    // What is written so far (without a sink: all of it).
    std::string_view written() const { return {data_, len_}; }
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
    static char* integer(char* p, long long v) { return write_decimal(p, v); }
    // The inside of a JSON string; needs room for 6 bytes per input byte and 16 more.
    // `readable` > 0: `s` is known to be well-formed UTF-8, and only its escapes are looked
    // for; that many bytes from s.data() on may be read.
    static char* escaped(char* p, std::string_view s, size_t readable);

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

// What a line needs on its way into a JSON string.
enum : unsigned { kToEscape = 1, kIllFormed = 2 };

#ifdef __SSE2__
// The bytes of x that must be escaped: control bytes, quotes and backslashes.
__m128i json_specials(__m128i x) {
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const __m128i control = _mm_and_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)), _mm_cmpgt_epi8(x, _mm_set1_epi8(-1)));
    return _mm_or_si128(control, _mm_or_si128(eq(x, '"'), eq(x, '\\')));
}

// Up to 8 bytes at q (len) as the low bytes of a word, the rest of it `pad` bytes; loaded a
// few bytes at a time, overlapping, so that nothing past the end is read and no copy on the
// stack stalls the load after it.
uint64_t word_of(const char* q, size_t len, uint64_t pad) {
    const auto load = [q](size_t k, auto t) {
        std::memcpy(&t, q + k, sizeof t);
        return static_cast<uint64_t>(t);
    };
    uint64_t w = 0;
    if (len == 8) return load(0, uint64_t{});
    if (len >= 4) {
        w = load(0, uint32_t{}) | load(len - 4, uint32_t{}) << (8 * (len - 4));
    } else if (len >= 2) {
        w = load(0, uint16_t{}) | load(len - 2, uint16_t{}) << (8 * (len - 2));
    } else if (len == 1) {
        w = load(0, uint8_t{});
    }
    return w | pad << (8 * len);
}

// The last m (< 16) bytes of a line, followed by bytes that are plain and no continuation.
__m128i padded_rest(const char* q, size_t m) {
    constexpr uint64_t kPad = 'a' * kOnes;
    const uint64_t lo = word_of(q, std::min<size_t>(m, 8), kPad);
    const uint64_t hi = m > 8 ? word_of(q + 8, m - 8, kPad) : kPad;
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

// kToEscape when `s` holds a byte to escape, kIllFormed when it is not well-formed UTF-8;
// sixteen bytes a step.
unsigned json_text_needs(std::string_view s) {
    const auto load = [&](size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + at)); };
    __m128i bad = _mm_setzero_si128(), special = bad;
    // x and the bytes one, two and three places before each of its bytes.
    const auto step = [&](__m128i x, __m128i p1, __m128i p2, __m128i p3) {
        const Utf8Faults faults = utf8_faults(x, p1, p2, p3);
        bad = _mm_or_si128(bad, _mm_or_si128(faults.patterns, faults.ranges));
        special = _mm_or_si128(special, json_specials(x));
    };
    // Steps in sequence, the bytes before shifted in from the step before.
    __m128i last = _mm_setzero_si128();
    const auto next = [&](__m128i x) {
        const Utf8Before before = utf8_before(x, last);
        step(x, before.p1, before.p2, before.p3);
        last = x;
    };
    const size_t n = s.size();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) next(load(i));
    constexpr size_t kBefore = 3;
    if (n >= 16 + kBefore) {
        // The rest as a last step ending at the end, overlapping the one before (a byte seen
        // twice gives the same answer twice), and a character cut by the end told apart.
        if (i < n) step(load(n - 16), load(n - 17), load(n - 18), load(n - 19));
        const auto at_end = [&](size_t back) { return static_cast<unsigned char>(s[n - back]); };
        if (at_end(1) >= 0xC0 || at_end(2) >= 0xE0 || at_end(3) >= 0xF0) bad = _mm_set1_epi8(-1);
    } else {
        // A short line: the padding after the rest shows a character cut by the end as
        // ill-formed, with one more step of it when the rest leaves it too little room.
        const size_t m = n - i;
        next(padded_rest(s.data() + i, m));
        if (m > 16 - kBefore) next(_mm_set1_epi8('a'));
    }
    return (_mm_movemask_epi8(special) ? kToEscape : 0u) | (_mm_movemask_epi8(bad) ? kIllFormed : 0u);
}
#else
unsigned json_text_needs(std::string_view) { return kToEscape | kIllFormed; }
#endif

// One ASCII byte as it goes into a JSON string.
char* escape_ascii(char* p, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    switch (c) {
    case '"': return Buffer::lit(p, "\\\"");
    case '\\': return Buffer::lit(p, "\\\\");
    case '\b': return Buffer::lit(p, "\\b");
    case '\f': return Buffer::lit(p, "\\f");
    case '\n': return Buffer::lit(p, "\\n");
    case '\r': return Buffer::lit(p, "\\r");
    case '\t': return Buffer::lit(p, "\\t");
    default:
        if (c >= 0x20) {
            *p++ = static_cast<char>(c);
            return p;
        }
        p = Buffer::lit(p, "\\u00");
        *p++ = kHex[c >> 4];
        *p++ = kHex[c & 15];
        return p;
    }
}

// Well-formed UTF-8: sixteen bytes are stored at once and the cursor moves past those before
// the first byte to escape (room for 6 bytes per input byte and 16 more covers the overshoot).
// `readable`: the bytes from s.data() on that may be read, at least s.size(); past the end
// of the line they let its last step be one load, the bytes beyond the line ignored.
char* escape_well_formed(char* p, std::string_view s, size_t readable) {
    size_t i = 0;
    const size_t n = s.size();
#ifdef __SSE2__
    while (i < n && i + 16 <= readable) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
        const size_t left = n - i;
        const unsigned keep = left >= 16 ? 0xFFFFu : (1u << left) - 1;
        const auto m = static_cast<unsigned>(_mm_movemask_epi8(json_specials(x))) & keep;
        if (!m) {
            const size_t step = std::min<size_t>(left, 16);
            p += step;
            i += step;
            continue;
        }
        const auto plain = static_cast<size_t>(std::countr_zero(m));
        p = escape_ascii(p + plain, static_cast<unsigned char>(s[i + plain]));
        i += plain + 1;
    }
    // The rest (up to 15 bytes) stored at once when it has nothing to escape.
    if (const size_t m = n - i; m > 0 && m < 16) {
        const __m128i x = padded_rest(s.data() + i, m);
        if (!_mm_movemask_epi8(json_specials(x))) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
            return p + m;
        }
    }
#endif
    for (; i < n; ++i) p = escape_ascii(p, static_cast<unsigned char>(s[i]));
    return p;
}

char* Buffer::escaped(char* p, std::string_view s, size_t readable) {
    if (readable) return escape_well_formed(p, s, readable);
    const unsigned needs = json_text_needs(s);
    if (!needs) return copy(p, s);
    if (needs == kToEscape) return escape_well_formed(p, s, s.size());
    // Ill-formed parts become U+FFFD, one for each maximal ill-formed subpart.
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        if (i + 8 <= n) {
            // Eight bytes are stored at once; the cursor moves past those before the first
            // byte that needs a look.
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
        if (c < 0x80) {
            p = escape_ascii(p, c);
            ++i;
            continue;
        }
        // The common well-formed two- and three-byte characters, checked directly.
        const auto cont = [&](size_t k) { return k < n && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
        if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
            std::memcpy(p, s.data() + i, 2);
            p += 2;
            i += 2;
            continue;
        }
        if (((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) && cont(i + 1) && cont(i + 2)) {
            std::memcpy(p, s.data() + i, 3);
            p += 3;
            i += 3;
            continue;
        }
        size_t bad = 0;
        const size_t len = utf8_sequence(s, i, bad);
        if (len == 0) {
            p = lit(p, "\xEF\xBF\xBD");
            i += bad;
            continue;
        }
        p = copy(p, s.substr(i, len));
        i += len;
    }
    return p;
}

// The text of a real: the shortest digits that read back, laid out as JavaScript does (plain
// from 1e-6 up to below 1e21, otherwise an exponent, here without '+'), and always with a
// fraction or an exponent so that a reader takes it for a real: 25.0, 0.000001, 1e-7, 1.5e21.
// Returns the length, 0 for a value the document cannot hold. `out` needs 32 bytes.
size_t real_text(double v, char* out) {
    if (!std::isfinite(v)) return 0;
    char sci[32];
    const char* const end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
    const char* p = sci;
    char* o = out;
    if (*p == '-') *o++ = *p++;
    char digits[20];
    int count = 0;
    digits[count++] = *p++;
    if (*p == '.')
        for (++p; *p != 'e'; ++p) digits[count++] = *p;
    ++p;
    const bool negative = *p++ == '-';
    int exp = 0;
    std::from_chars(p, end, exp);
    if (negative) exp = -exp;
    const int before = exp + 1; // digits before the point
    if (before >= count && before <= 21) {
        o = std::fill_n(std::copy_n(digits, count, o), before - count, '0');
        o = std::copy_n(".0", 2, o);
    } else if (before > 0 && before < count) {
        o = std::copy_n(digits, before, o);
        *o++ = '.';
        o = std::copy(digits + before, digits + count, o);
    } else if (before > -6 && before <= 0) {
        o = std::fill_n(std::copy_n("0.", 2, o), -before, '0');
        o = std::copy_n(digits, count, o);
    } else {
        *o++ = digits[0];
        if (count > 1) {
            *o++ = '.';
            o = std::copy(digits + 1, digits + count, o);
        }
        *o++ = 'e';
        o = std::to_chars(o, o + 8, exp).ptr;
    }
    return static_cast<size_t>(o - out);
}

// Font sizes repeat, so the text of the last real is kept.
class RealText {
public:
    bool write(double v, Buffer& out) {
        if (!have_ || std::bit_cast<uint64_t>(v) != std::bit_cast<uint64_t>(last_)) {
            len_ = real_text(v, text_);
            if (len_ == 0) return false; // not finite: the document cannot hold it
            last_ = v;
            have_ = true;
        }
        out.put({text_, len_});
        return true;
    }

private:
    double last_ = 0;
    bool have_ = false;
    size_t len_ = 0;
    char text_[32] = {};
};


// The lines of a document known to be well-formed UTF-8: those that lie in a text checked to
// be well-formed and start and end between its characters (an empty line takes the other
// path, which copies nothing).
class KnownText {
public:
    // An unchecked text is checked here, once a document: one pass costs less than checking
    // its lines one by one.
    KnownText(std::string_view text, TextForm form)
        : text_(form == TextForm::well_formed ||
                        (form == TextForm::unchecked && !text.empty() && utf8_form(text) == Utf8Form::well_formed)
                    ? text
                    : std::string_view()) {}
    // For a line known to be well-formed, the bytes of the text from its start on; else 0.
    size_t holds(std::string_view s) const {
        // As addresses: a line in the arena is another object, which pointers cannot be
        // ordered against.
        const auto at = reinterpret_cast<uintptr_t>(s.data()), base = reinterpret_cast<uintptr_t>(text_.data());
        if (s.empty() || text_.empty() || at < base || at - base > text_.size()) return 0;
        const size_t from = at - base, readable = text_.size() - from;
        if (s.size() > readable) return 0;
        const auto starts_char = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
        const size_t end = from + s.size();
        return starts_char(s[0]) && (end == text_.size() || starts_char(text_[end])) ? readable : 0;
    }

private:
    std::string_view text_;
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

// One line of a cue as a JSON string, after a comma unless it is the first.
[[gnu::always_inline]] inline bool put_line(Buffer& out, std::string_view line, bool first, const KnownText& known) {
    // The quotes, a comma and the escaper's 16 bytes of overshoot beside 6 bytes a byte.
    constexpr size_t kExtra = 24;
    constexpr size_t kPiece = (Buffer::kPieceMax - kExtra) / 6;
    char* p = out.reserve(std::min(line.size(), kPiece) * 6 + kExtra);
    if (!p) return false;
    if (!first) *p++ = ',';
    *p++ = '"';
    // A long line is escaped piece by piece, each with a reservation of its own.
    for (;;) {
        const size_t take = piece_length(line, kPiece);
        const std::string_view piece = line.substr(0, take);
        p = Buffer::escaped(p, piece, known.holds(piece));
        line.remove_prefix(take);
        if (line.empty()) break;
        out.commit(p);
        p = out.reserve(std::min(line.size(), kPiece) * 6 + kExtra);
        if (!p) return false;
    }
    *p++ = '"';
    out.commit(p);
    return true;
}

template <typename Cues>
bool write_document(const Cues& cues, LineSource stand_in, Buffer& out) {
    const Cues src = cues; // a local copy: see StoreCues
    RealText real;
    const KnownText known(src.text(), src.text_form());
    const KnownText none({}, TextForm::flawed);
    out.put(R"({"format":")");
    out.put(format_name(src.format_id()));
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
        if (stand_in.of) {
            const std::vector<std::string>& lines = stand_in.of(stand_in.context, i);
            for (size_t j = 0; j < lines.size(); ++j)
                if (!put_line(out, lines[j], j == 0, none)) return false;
        } else {
            const size_t lines = src.line_count(i);
            for (size_t j = 0; j < lines; ++j)
                if (!put_line(out, src.line(i, j), j == 0, known)) return false;
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

} // namespace

char* write_json(const CueView& cues, LineSource lines) {
    return cues.visit([&](const auto& src) -> char* {
        Buffer out(src.text_len() + src.count() * 48 + 64);
        try {
            if (!write_document(src, lines, out)) return nullptr;
        } catch (const std::bad_alloc&) { // a font size's text
            return nullptr;
        }
        return out.release();
    });
}

bool stream_json(const CueView& cues, JsonSinkFn sink, void* context, LineSource lines) {
    Buffer out(sink, context);
    try {
        if (!cues.visit([&](const auto& src) { return write_document(src, lines, out); })) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return out.finish();
}

std::string json_quoted(std::string_view text) {
    Buffer out(text.size() + 32);
    if (!put_line(out, text, true, KnownText({}, TextForm::flawed))) throw std::bad_alloc();
    return std::string(out.written());
}

int build_json(sub_state& st) {
    std::free(st.json);
    st.json = nullptr;
    try {
        st.json = write_json(CueView(st));
    } catch (const std::bad_alloc&) { // a font size's text; the document is simply absent
        st.json = nullptr;
    }
    return st.json ? 0 : -1;
}

} // namespace cuekit
