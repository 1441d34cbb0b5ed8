// Input bytes to UTF-8: byte-order marks first, then a named encoding (or, on request, one a
// charset detector chooses), then (nearly) valid UTF-8 as it is, with CP1252 and ISO-8859-1
// as the fallbacks for anything else.
#include "text/text.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <optional>
#include <uchardet.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CUEKIT_AVX2 1
#endif

namespace cuekit {

// Whether the decoder's scan would find nothing invalid: every continuation byte belongs to
// exactly one lead byte before it and no byte is F8 to FF. Sixteen bytes a step with SSE2:
// a byte must be a continuation exactly when a lead one, two or three bytes before it says so.
// Beside that, the ranges: no C0, C1 or F5 and up, and the byte after E0, ED, F0 and F4 in
// the narrower range those leads allow.
Utf8Form utf8_form_sse2(std::string_view b) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    __m128i last = zero; // the bytes of the chunk before
    __m128i errors = zero, ranges = zero;
    auto step = [&](__m128i x) {
        const Utf8Before before = utf8_before(x, last);
        const Utf8Faults faults = utf8_faults(x, before.p1, before.p2, before.p3);
        errors = _mm_or_si128(errors, faults.patterns);
        ranges = _mm_or_si128(ranges, faults.ranges);
        last = x;
    };
    size_t i = 0;
    for (; i + 16 <= b.size(); i += 16) {
        step(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + i)));
        if ((i & 1023) == 0 && _mm_movemask_epi8(errors)) return Utf8Form::invalid;
    }
    alignas(16) char tail[16] = {};
    if (i < b.size()) std::memcpy(tail, b.data() + i, b.size() - i);
    step(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)));
    if (i < b.size()) step(zero); // a sequence cut by the end of the text
    if (_mm_movemask_epi8(errors)) return Utf8Form::invalid;
    return _mm_movemask_epi8(ranges) ? Utf8Form::patterns_hold : Utf8Form::well_formed;
#else
    return count_invalid_utf8(b, 1) == 0 ? Utf8Form::patterns_hold : Utf8Form::invalid;
#endif
}

#ifdef CUEKIT_AVX2
namespace {

// The same answers as the SSE2 form, 32 bytes a step, found another way: each byte is
// classified by three table lookups (the high and low half of the byte before it, the high
// half of its own), whose common bits name what is wrong with the pair. A lead without its
// continuation, a continuation without a lead and two continuations in a row where no lead
// two or three places back asks for them break the byte patterns; an overlong form, a
// surrogate or a value past U+10FFFF only the ranges. The baseline build cannot assume AVX2,
// so these functions carry it as their own target and run only where the processor has it.
struct Avx2Scan {
    __m256i last; // the bytes of the step before
    __m256i patterns, ranges;
};

constexpr char kTooShort = 0x01, kTooLong = 0x02, kOverlong3 = 0x04, kTooLarge = 0x08, kSurrogate = 0x10,
               kOverlong2 = 0x20, kTooLarge1000 = 0x40, kOverlong4 = 0x40, kTwoConts = static_cast<char>(0x80);
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;
constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
constexpr char kPatternBits = kTooShort | kTooLong | kTwoConts;

__attribute__((target("avx2"))) inline __m256i table_avx2(const std::array<char, 16>& t) {
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data()));
    return _mm256_broadcastsi128_si256(half);
}

// `cur` moved up by N bytes, the last N bytes of `prev` coming in at the bottom.
template <int N>
__attribute__((target("avx2"))) inline __m256i shifted_in_avx2(__m256i cur, __m256i prev) {
    return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 16 - N);
}

struct Avx2Tables {
    __m256i lead_high, lead_low, byte_high;
};

__attribute__((target("avx2"))) inline void step_avx2(Avx2Scan& s, const Avx2Tables& t, __m256i x) {
    const __m256i low4 = _mm256_set1_epi8(0x0F);
    const __m256i p1 = shifted_in_avx2<1>(x, s.last), p2 = shifted_in_avx2<2>(x, s.last), p3 = shifted_in_avx2<3>(x, s.last);
    const __m256i pairs = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(t.lead_high, _mm256_and_si256(_mm256_srli_epi16(p1, 4), low4)),
                         _mm256_shuffle_epi8(t.lead_low, _mm256_and_si256(p1, low4))),
        _mm256_shuffle_epi8(t.byte_high, _mm256_and_si256(_mm256_srli_epi16(x, 4), low4)));
    // High bit set where a lead two places back is E0 or above, or three places back F0 or
    // above: a continuation is due there, which the pairs mark as two in a row.
    const __m256i due = _mm256_or_si256(_mm256_subs_epu8(p2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80))),
                                        _mm256_subs_epu8(p3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80))));
    const __m256i faults = _mm256_xor_si256(_mm256_and_si256(due, _mm256_set1_epi8(kTwoConts)), pairs);
    // F8 and up are no lead of any length.
    const __m256i no_lead = _mm256_cmpeq_epi8(_mm256_max_epu8(x, _mm256_set1_epi8(static_cast<char>(0xF8))), x);
    s.patterns = _mm256_or_si256(s.patterns, _mm256_or_si256(_mm256_and_si256(faults, _mm256_set1_epi8(kPatternBits)), no_lead));
    s.ranges = _mm256_or_si256(s.ranges, _mm256_andnot_si256(_mm256_set1_epi8(kPatternBits), faults));
    s.last = x;
}

} // namespace

__attribute__((target("avx2"))) Utf8Form utf8_form_avx2(std::string_view b) {
    static constexpr std::array<char, 16> kLeadHigh = {
        kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, // ASCII
        kTwoConts, kTwoConts, kTwoConts, kTwoConts,                                 // continuations
        kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,     // C_, D_, E_
        // cppcheck-suppress knownConditionTrueFalse ; two faults share a bit, both named for the reader
        kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};                        // F_
    static constexpr std::array<char, 16> kLeadLow = {
        kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge, kLarge,
        kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge};
    static constexpr std::array<char, 16> kByteHigh = {
        kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, // ASCII
        // cppcheck-suppress knownConditionTrueFalse ; two faults share a bit, both named for the reader
        kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,            // 8_
        kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                             // 9_
        kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                             // A_
        kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                             // B_
        kTooShort, kTooShort, kTooShort, kTooShort};                                            // leads
    const Avx2Tables t{table_avx2(kLeadHigh), table_avx2(kLeadLow), table_avx2(kByteHigh)};
    const __m256i zero = _mm256_setzero_si256();
    Avx2Scan s{zero, zero, zero};
    size_t i = 0;
    for (; i + 32 <= b.size(); i += 32) {
        step_avx2(s, t, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.data() + i)));
        if ((i & 1023) == 0 && !_mm256_testz_si256(s.patterns, s.patterns)) return Utf8Form::invalid;
    }
    alignas(32) char tail[32] = {};
    if (i < b.size()) std::memcpy(tail, b.data() + i, b.size() - i);
    step_avx2(s, t, _mm256_load_si256(reinterpret_cast<const __m256i*>(tail)));
    if (i < b.size()) step_avx2(s, t, zero); // a sequence cut by the end of the text
    if (!_mm256_testz_si256(s.patterns, s.patterns)) return Utf8Form::invalid;
    return _mm256_testz_si256(s.ranges, s.ranges) ? Utf8Form::well_formed : Utf8Form::patterns_hold;
}

bool have_avx2() { return __builtin_cpu_supports("avx2") != 0; }
#else
Utf8Form utf8_form_avx2(std::string_view b) { return utf8_form_sse2(b); }
bool have_avx2() { return false; }
#endif

Utf8Form utf8_form(std::string_view b) { return have_avx2() ? utf8_form_avx2(b) : utf8_form_sse2(b); }

// Only byte patterns count; counting stops once the limit is reached.
int count_invalid_utf8(std::string_view b, int limit) {
    int v = 0;
    size_t i = 0;
    const size_t n = b.size();
    while (i < n && v < limit) {
        // Runs of ASCII, the bulk of most subtitle files, eight bytes at a time.
        while (i + 8 <= n) {
            uint64_t chunk;
            std::memcpy(&chunk, b.data() + i, 8);
            if (chunk & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= n) break;
        const unsigned char c = static_cast<unsigned char>(b[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        const auto cont = [&](size_t j) { return (static_cast<unsigned char>(b[j]) & 0xC0) == 0x80; };
        // Well-formed two- and three-byte sequences, the bulk of non-ASCII text, in one step.
        if (c >= 0xC0 && c <= 0xDF && i + 1 < n && cont(i + 1)) {
            i += 2;
            continue;
        }
        if (c >= 0xE0 && c <= 0xEF && i + 2 < n && cont(i + 1) && cont(i + 2)) {
            i += 3;
            continue;
        }
        size_t k = 0;
        if (c >= 0xC0 && c <= 0xDF) k = 1;
        else if (c >= 0xE0 && c <= 0xEF) k = 2;
        else if (c >= 0xF0 && c <= 0xF7) k = 3;
        if (k == 0) {
            ++v;
            ++i;
            continue;
        }
        if (i + k >= n) return v + 1;
        for (size_t j = 1; j <= k; ++j) {
            if ((static_cast<unsigned char>(b[i + j]) & 0xC0) != 0x80) {
                ++v;
                break;
            }
        }
        i += k + 1;
    }
    return v;
}

namespace {

// The UTF-8 form of the units from in[i] on, up to and including the next one below U+0080 (or
// the end); false at a surrogate without its partner.
template <bool BigEndian>
[[gnu::always_inline]] inline bool utf16_until_ascii(std::string_view in, size_t& i, char*& p) {
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    const auto unit = [&](size_t k) -> uint32_t {
        return BigEndian ? (uint32_t{s[k]} << 8 | s[k + 1]) : (uint32_t{s[k + 1]} << 8 | s[k]);
    };
    while (i < n) {
        uint32_t u = unit(i);
        i += 2;
        if (u < 0x80) {
            *p++ = static_cast<char>(u); // U+0000 included: it stays a NUL byte
            return true;
        }
        if (u >= 0xD800 && u < 0xE000) {
            if (u >= 0xDC00 || i == n) return false;
            const uint32_t low = unit(i);
            if (low < 0xDC00 || low >= 0xE000) return false;
            i += 2;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        }
        p += encode_utf8(u, p);
    }
    return true;
}

// Runs of ASCII, the bulk of subtitle text (times, digits, spaces, Latin script), eight units a
// step with SSE2, four without; whatever follows them one unit at a time. Every step writes at
// most three bytes per unit it reads, so a whole block may be stored before its length is known.
template <bool BigEndian, bool Simd>
bool utf16_to_utf8_with(std::string_view in, char* out, size_t& len) {
    if (in.size() % 2) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    char* p = out;
    size_t i = 0;
    while (i < n) {
#ifdef __SSE2__
        if constexpr (Simd) {
            if (i + 16 <= n) {
                __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                if (BigEndian) x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
                const __m128i high = _mm_and_si128(x, _mm_set1_epi16(static_cast<short>(0xFF80)));
                const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(x, x));
                const size_t run = ascii == 0xFFFF ? 8 : static_cast<size_t>(__builtin_ctz(~ascii)) / 2;
                p += run;
                i += 2 * run;
                if (run == 8) continue;
            }
        }
#endif
        if constexpr (!Simd) {
            constexpr size_t hi = BigEndian ? 0 : 1;
            while (i + 8 <= n && (s[i + hi] | s[i + hi + 2] | s[i + hi + 4] | s[i + hi + 6]) == 0 &&
                   ((s[i + 1 - hi] | s[i + 3 - hi] | s[i + 5 - hi] | s[i + 7 - hi]) & 0x80) == 0) {
                for (size_t k = 0; k < 4; ++k) p[k] = static_cast<char>(s[i + 2 * k + 1 - hi]);
                p += 4;
                i += 8;
            }
        }
        if (!utf16_until_ascii<BigEndian>(in, i, p)) return false;
    }
    len = static_cast<size_t>(p - out);
    return true;
}

} // namespace

bool utf16_to_utf8(std::string_view in, bool big_endian, char* out, size_t& len) {
#ifdef __SSE2__
    constexpr bool simd = true;
#else
    constexpr bool simd = false;
#endif
    return big_endian ? utf16_to_utf8_with<true, simd>(in, out, len) : utf16_to_utf8_with<false, simd>(in, out, len);
}

bool utf16_to_utf8_portable(std::string_view in, bool big_endian, char* out, size_t& len) {
    return big_endian ? utf16_to_utf8_with<true, false>(in, out, len) : utf16_to_utf8_with<false, false>(in, out, len);
}

namespace {

struct EncodingName {
    std::array<std::string_view, 4> accepted;
    const char* converter;
};
constexpr std::array<EncodingName, 11> kEncodings{{
    {{"utf-8", "utf8"}, "UTF-8"},
    {{"utf-16le", "utf16le"}, "UTF-16LE"},
    {{"utf-16be", "utf16be"}, "UTF-16BE"},
    {{"utf-16", "utf16"}, "UTF-16"},
    {{"cp1251", "windows-1251"}, "CP1251"},
    {{"cp1252", "windows-1252"}, "CP1252"},
    {{"latin1", "iso-8859-1"}, "ISO-8859-1"},
    {{"gbk", "cp936"}, "GBK"},
    {{"gb18030"}, "GB18030"},
    {{"big5", "cp950"}, "BIG5"},
    {{"shift_jis", "shift-jis", "cp932", "sjis"}, "SHIFT_JIS"},
}};

const char* converter_name(const char* name) {
    for (const auto& e : kEncodings)
        for (const std::string_view a : e.accepted)
            if (!a.empty() && ieq(name, a)) return e.converter;
    return name;
}


using Text = MallocText;

struct Converted {
    Text text;
    size_t len = 0;
    TextForm form = TextForm::unchecked; // well-formed by construction from the loops of our own
};

// iconv_open's failure value, (iconv_t)-1: the one integer-to-pointer cast the API forces.
iconv_t failed_cd() {
    return reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)
}

struct IconvOwner {
    iconv_t cd;
    ~IconvOwner() {
        if (cd != failed_cd()) iconv_close(cd);
    }
};

// Why a conversion gave no text. Running out of memory is kept apart from a refusal, so
// that it is reported as such instead of sending the input down the fallback chain, where
// it would come out as a different text.
enum class Conversion { ok, refused, no_memory };

// One conversion into a buffer of 4n + 16 bytes. It fails only when nothing could be
// converted (an unknown name, no memory, or bad input at the very start); later bad input
// becomes U+FFFD, skipping one input unit, and `replaced` is set.
Conversion iconv_convert(const char* from, std::string_view in, Converted& out, bool& replaced) {
    // EINVAL is the converter's word for a name it does not know. Out of memory, glibc
    // leaves errno as it was, so anything else counts as a lack of resources.
    errno = 0;
    IconvOwner conv{iconv_open("UTF-8", from)};
    if (conv.cd == failed_cd()) return errno == EINVAL ? Conversion::refused : Conversion::no_memory;
    if (in.size() > (SIZE_MAX - 16) / 4) return Conversion::no_memory;
    const size_t cap = 4 * in.size() + 16;
    Text buf(static_cast<char*>(std::malloc(cap)));
    if (!buf) return Conversion::no_memory;
    const size_t unit = (istarts_with(from, "UTF-16") || istarts_with(from, "UCS-2")) ? 2 : 1;

    char* inp = const_cast<char*>(in.data());
    size_t inleft = in.size();
    char* const start = buf.get();
    char* outp = start;
    size_t outleft = cap - 1;
    while (true) {
        if (iconv(conv.cd, &inp, &inleft, &outp, &outleft) != static_cast<size_t>(-1)) break;
        const int err = errno;
        if (err == E2BIG) break; // cut, as the budget is sized once
        if (outp == start) return Conversion::refused;
        if ((err != EILSEQ && err != EINVAL) || outleft < 3) break;
        std::memcpy(outp, "\xEF\xBF\xBD", 3);
        outp += 3;
        outleft -= 3;
        replaced = true;
        if (err == EINVAL) break; // an incomplete sequence at the very end
        const size_t skip = std::min(unit, inleft);
        inp += skip;
        inleft -= skip;
        iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
        if (inleft == 0) break;
    }
    *outp = '\0';
    out.len = static_cast<size_t>(outp - start);
    out.text = std::move(buf);
    return Conversion::ok;
}

// CP1252 by table, the most common conversion (the fallback for text that is not UTF-8), at
// a fraction of the general converter's cost per character and with the same result: the
// five bytes CP1252 leaves undefined are refused as the first byte and otherwise replaced by
// U+FFFD, one byte each.
Conversion cp1252_convert(std::string_view in, Converted& out, bool& replaced) {
    static constexpr std::array<std::string_view, 32> kHigh{
        "\xE2\x82\xAC", "", "\xE2\x80\x9A", "\xC6\x92", "\xE2\x80\x9E", "\xE2\x80\xA6", "\xE2\x80\xA0", "\xE2\x80\xA1",
        "\xCB\x86", "\xE2\x80\xB0", "\xC5\xA0", "\xE2\x80\xB9", "\xC5\x92", "", "\xC5\xBD", "",
        "", "\xE2\x80\x98", "\xE2\x80\x99", "\xE2\x80\x9C", "\xE2\x80\x9D", "\xE2\x80\xA2", "\xE2\x80\x93", "\xE2\x80\x94",
        "\xCB\x9C", "\xE2\x84\xA2", "\xC5\xA1", "\xE2\x80\xBA", "\xC5\x93", "", "\xC5\xBE", "\xC5\xB8"};
    const auto undefined = [](unsigned char c) { return c >= 0x80 && c < 0xA0 && kHigh[c - 0x80].empty(); };
    if (!in.empty() && undefined(static_cast<unsigned char>(in[0]))) return Conversion::refused;
    if (in.size() > (SIZE_MAX - 1) / 3) return Conversion::no_memory;
    // Room for the longest output (three bytes per byte); pages that stay unwritten cost nothing.
    Text buf(static_cast<char*>(std::malloc(3 * in.size() + 1)));
    if (!buf) return Conversion::no_memory;
    char* p = buf.get();
    const size_t n = in.size();
    for (size_t i = 0; i < n;) {
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, in.data() + i, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                std::memcpy(p, &w, 8);
                p += 8;
                i += 8;
                continue;
            }
        }
        const auto c = static_cast<unsigned char>(in[i++]);
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
        } else if (c >= 0xA0) {
            *p++ = static_cast<char>(0xC0 | (c >> 6));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (undefined(c)) {
            std::memcpy(p, "\xEF\xBF\xBD", 3);
            p += 3;
            replaced = true;
        } else {
            const std::string_view u = kHigh[c - 0x80];
            std::memcpy(p, u.data(), u.size());
            p += u.size();
        }
    }
    *p = '\0';
    out.len = static_cast<size_t>(p - buf.get());
    out.text = std::move(buf);
    out.form = TextForm::well_formed;
    return Conversion::ok;
}

// UTF-16 by its own loop, with the general converter's result: only well-formed text is taken
// here, and anything else goes to the general converter whole, so that its replacements,
// refusals and lengths stay the only ones. A U+FEFF inside the text is kept, as there.
Conversion utf16_convert(const char* from, bool big_endian, std::string_view in, Converted& out, bool& replaced) {
    if (in.size() % 2 == 0) {
        // Three bytes per unit is the longest output: a surrogate pair gives four for two units.
        if (in.size() / 2 > (SIZE_MAX - 1) / 3) return Conversion::no_memory;
        Text buf(static_cast<char*>(std::malloc(in.size() / 2 * 3 + 1)));
        if (!buf) return Conversion::no_memory;
        size_t len = 0;
        if (utf16_to_utf8(in, big_endian, buf.get(), len)) {
            buf.get()[len] = '\0';
            out.len = len;
            out.text = std::move(buf);
            out.form = TextForm::well_formed;
            return Conversion::ok;
        }
    }
    return iconv_convert(from, in, out, replaced);
}

// One conversion: CP1252 and UTF-16 by loops of their own, anything else by the general converter.
Conversion convert(const char* from, std::string_view in, Converted& out, bool& replaced) {
    if (ieq(from, "CP1252")) return cp1252_convert(in, out, replaced);
    if (ieq(from, "UTF-16LE") || ieq(from, "UTF-16BE")) return utf16_convert(from, ieq(from, "UTF-16BE"), in, out, replaced);
    return iconv_convert(from, in, out, replaced);
}

// UTF-16 without a byte-order mark, told by its zero bytes: the high byte of every ASCII
// character, which subtitle files hold plenty of (times, digits, spaces, line breaks). The
// other half of the pairs holds a zero only for the rare characters U+xx00. Nullptr when
// the pattern is not there.
const char* utf16_by_zero_bytes(std::string_view b) {
    constexpr size_t kSample = 4096;
    const size_t n = std::min(b.size(), kSample) & ~size_t{1};
    size_t even = 0, odd = 0;
    for (size_t i = 0; i < n; i += 2) {
        even += b[i] == '\0';
        odd += b[i + 1] == '\0';
    }
    const size_t enough = std::max<size_t>(2, n / 32); // one ASCII character in 16
    if (odd >= enough && even * 4 <= odd) return "UTF-16LE";
    if (even >= enough && odd * 4 <= even) return "UTF-16BE";
    return nullptr;
}

struct DetectorFree {
    void operator()(uchardet_t d) const { uchardet_delete(d); }
};

// The charset the detector names for the bytes ("" when it names none), or nullptr when it
// ran out of memory.
// - The detector reports some failed allocations only through errno (ENOMEM, as malloc
//   sets it): its answer would then be a guess, so that counts as no memory.
// - Each thread keeps one detector and resets it for every use. The detector builds its
//   probers on first use and, when one of its own allocations fails, leaks those it had
//   already built: building them once per thread keeps that to one time at most.
// What the detector is shown: 64 KiB from just before the first byte that is not ASCII. The
// detector reads about 15 MB/s, and a window of subtitle text decides as well as a whole
// file; starting from the text that needs deciding keeps a long ASCII opening (credits, an
// English first reel) from filling the window.
std::string_view detection_window(std::string_view b) {
    constexpr size_t kWindow = 64 << 10;
    constexpr size_t kLeadIn = 1 << 10;
    const auto first = std::find_if(b.begin(), b.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    const size_t at = static_cast<size_t>(first - b.begin());
    return b.substr(at > kLeadIn ? at - kLeadIn : 0, kWindow);
}

const char* detected_charset(std::string_view b) {
    thread_local std::unique_ptr<uchardet, DetectorFree> detector;
    errno = 0;
    if (!detector) detector.reset(uchardet_new());
    if (!detector) return nullptr;
    uchardet_reset(detector.get());
    const int rc = uchardet_handle_data(detector.get(), b.data(), b.size());
    uchardet_data_end(detector.get());
    const char* name = uchardet_get_charset(detector.get());
    if (rc != 0 || errno == ENOMEM) return nullptr;
    return name ? name : "";
}

} // namespace

Decoded decode_to_utf8(const void* data, size_t len, const char* encoding) {
    const std::string_view b(static_cast<const char*>(data), data ? len : 0);
    const bool detect = encoding && ieq(encoding, "detect");
    const char* conv = (encoding && *encoding && !detect) ? converter_name(encoding) : nullptr;
    Decoded result;
    Converted out;
    bool replaced = false;
    auto note = [&](const char* warning) { result.warnings[result.warning_count++] = warning; };
    // Text kept as it is is used in place (verbatim); a conversion's own text is kept (done).
    auto verbatim = [&](std::string_view view) {
        result.view = view;
        if (replaced) note("encoding: replaced unconvertible input with U+FFFD");
        return std::move(result);
    };
    auto done = [&] {
        result.text = std::move(out.text);
        result.form = out.form;
        return verbatim({result.text.get(), out.len});
    };
    // The input's form as UTF-8, found once (the detect path and the fallbacks both ask) and
    // noted for a text taken as it is.
    std::optional<Utf8Form> form;
    auto as_utf8 = [&] {
        if (!form) form = utf8_form(b);
        result.form = *form == Utf8Form::well_formed ? TextForm::well_formed : TextForm::flawed;
        return *form;
    };
    auto fail = [&](int code) {
        result.result = code;
        return std::move(result);
    };

    if (b.starts_with("\xEF\xBB\xBF")) return verbatim(b.substr(3));
    if (b.starts_with("\xFF\xFE") || b.starts_with("\xFE\xFF")) {
        const char* from = b[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
        switch (convert(from, b.substr(2), out, replaced)) {
        case Conversion::ok: return done();
        case Conversion::no_memory: return fail(SUB_ERR_NOMEM);
        case Conversion::refused: return fail(SUB_ERR_ENCODING);
        }
    }
    if (detect) {
        // Valid UTF-8 is taken as it is; UTF-16 is told before the detector, which does not
        // know it without a mark. A charset the detector does not name, or that cannot be
        // converted, leaves the bytes to the fallbacks below.
        const char* name = utf16_by_zero_bytes(b);
        if (!name && as_utf8() != Utf8Form::invalid) return verbatim(b);
        if (!name) name = detected_charset(detection_window(b));
        if (!name) return fail(SUB_ERR_NOMEM);
        if (*name) {
            switch (convert(name, b, out, replaced)) {
            case Conversion::ok:
                std::snprintf(result.detected.data(), result.detected.size(), "%s", name);
                return done();
            case Conversion::no_memory: return fail(SUB_ERR_NOMEM);
            case Conversion::refused: replaced = false; break;
            }
        }
    }
    if (conv && !ieq(conv, "UTF-8")) {
        switch (convert(conv, b, out, replaced)) {
        case Conversion::ok: return done();
        case Conversion::no_memory: return fail(SUB_ERR_NOMEM);
        case Conversion::refused: result.refused = conv; return fail(SUB_ERR_ENCODING);
        }
    }
    if (as_utf8() != Utf8Form::invalid || count_invalid_utf8(b, 8) <= 7) return verbatim(b);
    switch (convert("CP1252", b, out, replaced)) {
    case Conversion::ok: note("encoding: auto-detected as CP1252 (invalid UTF-8)"); return done();
    case Conversion::no_memory: return fail(SUB_ERR_NOMEM);
    case Conversion::refused: break;
    }
    switch (convert("ISO-8859-1", b, out, replaced)) {
    case Conversion::ok: note("encoding: fell back to ISO-8859-1"); return done();
    case Conversion::no_memory: return fail(SUB_ERR_NOMEM);
    case Conversion::refused: break;
    }
    note("encoding: treated as latin1 with possible mojibake");
    return verbatim(b);
}

} // namespace cuekit
