// Text utilities: byte strings, lines, numbers, timestamps, character references and the
// decoding of input bytes to UTF-8. Nothing here knows the parse state or any format, so
// every function is a plain function of its arguments.
#pragma once

#include "cuekit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cuekit {

// The longest text line any parser keeps; longer text is cut there.
constexpr size_t kTextMax = 65535;

// ---------------------------------------------------------------------------------------
// Owned C strings (text/strings.cpp)

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

// A malloc'd, NUL-terminated copy of `s` (which may hold NULs), or nullptr when the memory
// cannot be had. The caller frees it with free().
char* dup_bytes(std::string_view s);

// ---------------------------------------------------------------------------------------
// Strings and lines (text/strings.cpp)

// The whitespace that trimming removes: TAB, LF, CR and SPACE, nothing else.
constexpr bool is_space(unsigned char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
// Folds ASCII letters only; bytes at or above 0x80 stay as they are.
constexpr unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Inline, as the helpers below: parsers call them once or twice a line.
inline std::string_view trim_left(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && is_space(static_cast<unsigned char>(s[b]))) ++b;
    return s.substr(b);
}
inline std::string_view trim(std::string_view s) {
    s = trim_left(s);
    size_t e = s.size();
    while (e > 0 && is_space(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(0, e);
}
// The part before the first NUL: what a C string reader would see.
std::string_view until_nul(std::string_view s);
inline bool ieq(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
    return true;
}
bool istarts_with(std::string_view s, std::string_view prefix);
// Eight bytes of `p` with the first in the lowest byte of the word.
inline uint64_t load_le64(const char* p) {
    uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&w, p, sizeof w);
    } else {
        for (size_t i = 0; i < 8; ++i) w |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    }
    return w;
}

// A fixed shape a text may begin with: 'D' stands for a digit, 'F' for a fraction separator
// ('.' or ','), any other byte for itself. Timing lines are told by their shape, once a line,
// so the shape is matched eight bytes a step: each byte xor'ed with the shape's must then be
// at most 9 (a digit), and exactly 0 where the shape's byte stands for itself (a separator
// may differ in the one bit between ',' and '.').
template <size_t N>
class Shape {
public:
    static_assert(N - 1 >= 8, "a shape is matched eight bytes a step");

    consteval explicit Shape(const char (&shape)[N]) {
        for (size_t k = 0; k < kSteps; ++k) {
            for (size_t b = 0; b < 8; ++b) {
                const char c = shape[at(k) + b];
                const uint64_t value = c == 'D' ? '0' : c == 'F' ? ',' : static_cast<unsigned char>(c);
                const uint64_t exact = c == 'D' ? 0 : c == 'F' ? 0xFD : 0xFF;
                xor_[k] |= value << (8 * b);
                exact_[k] |= exact << (8 * b);
            }
        }
    }
    constexpr size_t size() const { return kSize; }
    bool starts(std::string_view s) const {
        if (s.size() < kSize) return false;
        constexpr uint64_t kHighs = 0x8080808080808080ull, kToHigh = 0x7676767676767676ull;
        uint64_t bad = 0;
        for (size_t k = 0; k < kSteps; ++k) {
            // A byte above 9 sets its high bit in y or in y + 0x76; a carry out of a byte
            // comes only from a byte that is bad already.
            const uint64_t y = load_le64(s.data() + at(k)) ^ xor_[k];
            bad |= ((y | (y + kToHigh)) & kHighs) | (y & exact_[k]);
        }
        return bad == 0;
    }

private:
    static constexpr size_t kSize = N - 1;
    static constexpr size_t kSteps = (kSize + 7) / 8;
    // The last step ends at the shape's end, overlapping the one before.
    static constexpr size_t at(size_t k) { return std::min(8 * k, kSize - 8); }
    std::array<uint64_t, kSteps> xor_{};
    std::array<uint64_t, kSteps> exact_{};
};
// First case-insensitive occurrence of `needle` at or after `from`, or npos. An empty needle
// matches at `from` (when from <= hay.size()).
size_t ifind(std::string_view hay, std::string_view needle, size_t from = 0);
inline bool contains(std::string_view s, std::string_view needle) { return s.find(needle) != std::string_view::npos; }
inline bool icontains(std::string_view s, std::string_view needle) { return ifind(s, needle) != std::string_view::npos; }

// The first occurrence of a needle (ASCII case ignored unless `exact`) at or after a position
// that only moves forward. An occurrence is kept until the position passes it and an absent
// needle is never searched for again, so a whole forward scan reads the text once per needle.
class ForwardFinder {
public:
    ForwardFinder(std::string_view hay, std::string_view needle, bool exact = false)
        : hay_(hay), needle_(needle), exact_(exact) {}
    // `from` must not be smaller than in the previous call.
    size_t next(size_t from) {
        if (!searched_ || (at_ != std::string_view::npos && at_ < from)) {
            at_ = exact_ ? hay_.find(needle_, from) : ifind(hay_, needle_, from);
            searched_ = true;
        }
        return at_;
    }

private:
    std::string_view hay_;
    std::string_view needle_;
    bool exact_;
    size_t at_ = std::string_view::npos;
    bool searched_ = false;
};

// Walks a text line by line with the terminators LF, CR, CR LF, CR CR LF and U+2028 (E2 80 A8),
// exactly as sub_split_lines cuts it, handing out views instead of copies. There is always a
// last line after the last terminator (empty when the text ends with one), so a text with k
// terminators yields k + 1 lines; an empty text yields one empty line.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    // Sets `line` to the next line (terminator excluded); false once every line was given.
    // Inline for the common cases, a line ended by LF or CR LF within the 64 bytes already
    // scanned.
    bool next(std::string_view& line) {
        // Lines cross blocks often (one of 64 bytes holds about two), so the blocks up to the
        // line's end are scanned here too.
        for (size_t from = pos_; from < text_.size();) {
            const size_t block = from & ~size_t{63};
            if (block != block_) {
                block_ = block;
                bits_ = candidates(block);
            }
            const uint64_t m = bits_ & (~uint64_t{0} << (from - block));
            if (!m) {
                from = block + 64;
                continue;
            }
            const size_t i = block + static_cast<size_t>(std::countr_zero(m));
            const size_t k = text_[i] == '\n' ? 1 : text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n' ? 2 : 0;
            if (!k) break;
            line = text_.substr(pos_, i - pos_);
            pos_ = i + k;
            return true;
        }
        return next_slow(line);
    }
    // Offset of the first byte not yet handed out (text size once exhausted).
    size_t offset() const { return pos_; }
    // Whether a NUL was among the bytes scanned so far, which include every line handed out:
    // false means those lines hold none, and a reader that stops at a NUL need not look.
    bool nul_seen() const { return nul_seen_; }
    // A line handed out, cut at its first NUL as a C string reader would; the search is
    // skipped while the scanner has seen none.
    std::string_view until_nul(std::string_view line) const { return nul_seen_ ? cuekit::until_nul(line) : line; }

private:
    // Position of the first byte at or after `from` that can start a terminator (LF, CR or
    // the lead byte E2), or the text size. Lines are short, so the candidates are found 64
    // bytes at a time and kept as a bit mask for the calls that follow.
    size_t next_candidate(size_t from);
    uint64_t candidates(size_t block);
    bool next_slow(std::string_view& line);

    std::string_view text_;
    size_t pos_ = 0;
    bool done_ = false;
    size_t block_ = SIZE_MAX; // the 64-byte block whose candidates `bits_` holds
    uint64_t bits_ = 0;
    bool nul_seen_ = false;
};

// ---------------------------------------------------------------------------------------
// Numbers (text/numbers.cpp): conversions that are defined for every input.

// A view as a NUL-terminated string for the C number readers, cut to N bytes the way a
// fixed buffer of N + 1 bytes cuts it.
template <size_t N>
class CStringCopy {
public:
    explicit CStringCopy(std::string_view s) : n_(std::min(s.size(), N)) {
        if (n_) std::memcpy(buf_.data(), s.data(), n_);
        buf_[n_] = '\0';
    }
    const char* c_str() const { return buf_.data(); }

private:
    std::array<char, N + 1> buf_;
    size_t n_;
};
// A double as a float; values beyond the float range become an infinity of their sign (a
// plain conversion is not defined for them), NaN stays NaN.
float narrow_to_float(double v);
// strtod, with the same result and end position; plain decimals (up to 15 significant digits
// and 22 after the point, no exponent) are converted directly, everything else by strtod.
double strtod_fast(const char* s, char** end);
// Truncates toward zero into int32; NaN reads as 0, out-of-range values saturate. Inline:
// every frame-based cue time goes through it.
inline int32_t saturate_i32(double v) {
    if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (v > static_cast<double>(INT32_MIN)) return static_cast<int32_t>(v); // truncates
    return std::isnan(v) ? 0 : INT32_MIN; // NaN fails both tests
}
// Saturating int32 addition.
int32_t add_sat(int32_t a, int32_t b);
// atoi (and atol): leading whitespace, optional sign, digits; saturates to int32 instead of
// overflowing. Null reads as 0.
int32_t atoi_sat(const char* s);
// strtoul(s, nullptr, 10) saturated to the unsigned 32-bit range.
uint32_t strtou32_sat(const char* s);

// ---------------------------------------------------------------------------------------
// Timestamps (text/timestamp.cpp). The end of the view acts as the string's end.

int32_t parse_hms_ms(std::string_view s, bool strict);
// The milliseconds of a stamp already known to have the clock's shape: `hour_digits` (1 or 2)
// hour digits, ":MM:SS", a separator and a digit. Read by position, the usual stamps need none
// of the general reading's steps; the fraction's digits count as there (one is tenths, two
// hundredths, three or more milliseconds, the rest dropped). Inline: timing lines of SubRip,
// WebVTT and ASS come through here once a cue.
inline int32_t clock_ms_at(std::string_view s, size_t hour_digits) {
    const auto d = [&](size_t i) { return static_cast<int32_t>(s[i] - '0'); };
    const size_t h = hour_digits, from = h + 7;
    int32_t f = 0;
    size_t i = from;
    for (; i < s.size() && is_digit(static_cast<unsigned char>(s[i])); ++i)
        if (i < from + 3) f = f * 10 + d(i);
    f *= i == from + 1 ? 100 : i == from + 2 ? 10 : 1;
    const int32_t hours = h == 2 ? d(0) * 10 + d(1) : d(0);
    return hours * 3600000 + (d(h + 1) * 10 + d(h + 2)) * 60000 + (d(h + 4) * 10 + d(h + 5)) * 1000 + f;
}
// A clock time with a frames field, "H:M:S:F", found the way parse_hms_ms finds its clock (a
// sub-frame part or anything else after the frames is ignored): the clock part in
// milliseconds and the frame count. False for any other form or a clock part out of range.
bool parse_hms_frames(std::string_view s, int32_t& clock_ms, int64_t& frames);
// Length of a full "H:MM:SS,mmm" or "H:MM:SS.mmm" stamp at the start of `s`, or 0.
size_t full_stamp_length(std::string_view s);
int32_t parse_ssa_time(std::string_view s);

// ---------------------------------------------------------------------------------------
// Entities (text/entities.cpp)

// Decodes character references of s[0..n) in place; returns the new length (never more
// than n). Stops early at a NUL, as a C string reader would.
size_t html_decode(char* s, size_t n);
// The value of a hex digit (either case), or -1.
int hex_value(unsigned char c);
// UTF-8 bytes of a code point at `out` (room for 4); values that are no Unicode scalar value
// (0, surrogates, beyond U+10FFFF) become U+FFFD so the text is never cut or made invalid.
// Inline: the UTF-16 converter calls it once per character that is not ASCII.
inline size_t encode_utf8(uint32_t v, char* out) {
    if (v == 0 || (v >= 0xD800 && v <= 0xDFFF) || v > 0x10FFFF) v = 0xFFFD;
    auto b = [](uint32_t x) { return static_cast<char>(static_cast<unsigned char>(x)); };
    if (v < 0x80) {
        out[0] = b(v);
        return 1;
    }
    if (v < 0x800) {
        out[0] = b(0xC0 | (v >> 6));
        out[1] = b(0x80 | (v & 0x3F));
        return 2;
    }
    if (v < 0x10000) {
        out[0] = b(0xE0 | (v >> 12));
        out[1] = b(0x80 | ((v >> 6) & 0x3F));
        out[2] = b(0x80 | (v & 0x3F));
        return 3;
    }
    out[0] = b(0xF0 | (v >> 18));
    out[1] = b(0x80 | ((v >> 12) & 0x3F));
    out[2] = b(0x80 | ((v >> 6) & 0x3F));
    out[3] = b(0x80 | (v & 0x3F));
    return 4;
}

// ---------------------------------------------------------------------------------------
// Decoding (text/decode.cpp)

// What is known of a decoded text's form: checked (or made) and well-formed UTF-8 throughout,
// checked and not, or not checked (taken as it is after a byte-order mark, or made by the
// general converter), which a writer that gains from knowing may check itself.
enum class TextForm : uint8_t { unchecked, well_formed, flawed };

// What decoding gives back. On success `view` is the UTF-8 text: the input itself (or the
// part after a byte-order mark) when it is kept as it is, otherwise a converted copy owned by
// `text` (NUL-terminated). The warnings say what was guessed or replaced on the way (static
// texts, in order).
struct Decoded {
    int result = SUB_OK; // SUB_OK, SUB_ERR_ENCODING or SUB_ERR_NOMEM
    MallocText text;
    std::string_view view;
    // With SUB_ERR_ENCODING for a named encoding: the converter name that refused it (null
    // when a byte-order mark named the encoding).
    const char* refused = nullptr;
    std::array<const char*, 2> warnings{};
    size_t warning_count = 0;
    // The charset that encoding "detect" chose (announced before the warnings), or "".
    std::array<char, 48> detected{};
    // What is known of `view`'s form.
    TextForm form = TextForm::unchecked;
};
// `encoding`: null or "" for UTF-8 with the CP1252 fallbacks, "detect" (any case) for a
// charset detector's choice, or a converter's name.
Decoded decode_to_utf8(const void* data, size_t len, const char* encoding);
// Ill-formed sequences as the decoder counts them (byte patterns only: overlong forms and
// encoded surrogates pass), counting stopped at `limit`; the text is kept as it is below 8.
int count_invalid_utf8(std::string_view b, int limit);
// Length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), or 0 with `bad` set to the
// length of the maximal ill-formed subpart there (at least 1), as the Unicode standard counts them.
// Inline: parsers call it once per character in runs of non-ASCII text.
inline size_t utf8_sequence(std::string_view s, size_t i, size_t& bad) {
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
// What the first pass over text that may be UTF-8 finds: byte patterns the decoder counts as
// invalid, or patterns that hold with some sequence overlong, a surrogate or past U+10FFFF,
// or well-formed UTF-8 throughout (each line cut from such a text between characters is
// well-formed too, and the writers need not check it again).
enum class Utf8Form { invalid, patterns_hold, well_formed };
// invalid exactly when count_invalid_utf8(b, 1) != 0; 32 or 16 bytes a step where the machine
// allows it.
Utf8Form utf8_form(std::string_view b);
// Its forms, for tests: SSE2 (the exact count, and no well_formed, where the build lacks SSE2)
// and AVX2 (to be called only when have_avx2(); elsewhere the SSE2 form).
Utf8Form utf8_form_sse2(std::string_view b);
Utf8Form utf8_form_avx2(std::string_view b);
bool have_avx2();
#ifdef __SSE2__
// What is wrong with sixteen bytes of text that may be UTF-8, each byte x judged with the
// bytes one, two and three places before it (p1, p2, p3). `patterns`: a continuation byte
// where no lead asks for one, a lead without its continuation, or F8 and up (what the decoder
// counts as invalid); `ranges`: C0, C1, F5 and up, or the byte after E0, ED, F0 and F4 outside
// the narrower range those leads allow (an overlong form, a surrogate, past U+10FFFF).
struct Utf8Faults {
    __m128i patterns, ranges;
};
inline Utf8Faults utf8_faults(__m128i x, __m128i p1, __m128i p2, __m128i p3) {
    const __m128i zero = _mm_setzero_si128();
    const auto byte = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
    // Signed compares: the bytes from 0x80 up are the negative ones, in their order.
    const auto at_least = [&](__m128i v, int lead) {
        return _mm_and_si128(_mm_cmpgt_epi8(v, byte(lead - 1)), _mm_cmplt_epi8(v, zero));
    };
    const auto is = [&](__m128i v, int c) { return _mm_cmpeq_epi8(v, byte(c)); };
    const __m128i need = _mm_or_si128(at_least(p1, 0xC0), _mm_or_si128(at_least(p2, 0xE0), at_least(p3, 0xF0)));
    const __m128i cont = _mm_cmplt_epi8(x, byte(0xC0));
    const __m128i below_a0 = _mm_cmplt_epi8(x, byte(0xA0)), below_90 = _mm_cmplt_epi8(x, byte(0x90));
    const __m128i leads = _mm_or_si128(_mm_or_si128(is(x, 0xC0), is(x, 0xC1)), at_least(x, 0xF5));
    const __m128i after = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(is(p1, 0xE0), below_a0), _mm_andnot_si128(below_a0, is(p1, 0xED))),
        _mm_or_si128(_mm_and_si128(is(p1, 0xF0), below_90), _mm_andnot_si128(below_90, is(p1, 0xF4))));
    return {_mm_or_si128(_mm_xor_si128(need, cont), at_least(x, 0xF8)), _mm_or_si128(leads, after)};
}
// The bytes one, two and three places before each byte of x, the step before being `last`.
struct Utf8Before {
    __m128i p1, p2, p3;
};
inline Utf8Before utf8_before(__m128i x, __m128i last) {
    return {_mm_or_si128(_mm_slli_si128(x, 1), _mm_srli_si128(last, 15)),
            _mm_or_si128(_mm_slli_si128(x, 2), _mm_srli_si128(last, 14)),
            _mm_or_si128(_mm_slli_si128(x, 3), _mm_srli_si128(last, 13))};
}
#endif
// Well-formed UTF-16 (an even length, every surrogate in a pair) in either byte order to UTF-8
// at `out`, which has room for three bytes per unit; false for anything else, leaving `out`
// in an unspecified state. U+0000 becomes a NUL byte and U+FEFF is kept.
bool utf16_to_utf8(std::string_view in, bool big_endian, char* out, size_t& len);
// Its form without SSE2, for tests (the same function where the build lacks SSE2).
bool utf16_to_utf8_portable(std::string_view in, bool big_endian, char* out, size_t& len);

} // namespace cuekit
