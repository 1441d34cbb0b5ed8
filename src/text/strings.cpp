// Byte-string helpers and the line scanner shared by every line-oriented parser.
#include "text/text.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cuekit {

char* dup_bytes(std::string_view s) {
    if (s.size() == SIZE_MAX) return nullptr;
    auto* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (!p) return nullptr;
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

std::string_view until_nul(std::string_view s) {
    const void* nul = s.empty() ? nullptr : std::memchr(s.data(), '\0', s.size());
    return nul ? s.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - s.data())) : s;
}

bool istarts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && ieq(s.substr(0, prefix.size()), prefix);
}

size_t ifind(std::string_view hay, std::string_view needle, size_t from) {
    if (from > hay.size()) return std::string_view::npos;
    if (needle.empty()) return from;
    if (needle.size() > hay.size() - from) return std::string_view::npos;
#ifdef __SSE2__
    const auto first_byte = fold(static_cast<unsigned char>(needle[0]));
    if (needle.size() >= 2 && first_byte >= 'a' && first_byte <= 'z') {
        // A needle that starts with a letter: sixteen start positions a step, those whose first
        // and last bytes match the needle's with bit 5 set on both sides (never missing a letter
        // of either case; a few other bytes pass too) compared whole. Text is mostly letters,
        // so "t" of "ttml" alone would stop at every other word. A needle that starts with
        // punctuation is found faster by the library's search for that byte, below (and bit 5
        // would join "[" with "{").
        const size_t m = needle.size(), end = hay.size() - m + 1; // start positions [from, end)
        const __m128i case_bit = _mm_set1_epi8(0x20);
        const __m128i first16 = _mm_set1_epi8(static_cast<char>(needle[0] | 0x20));
        const __m128i last16 = _mm_set1_epi8(static_cast<char>(needle[m - 1] | 0x20));
        size_t i = from;
        for (; i + 16 <= end; i += 16) {
            const auto at = [&](size_t k) {
                return _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hay.data() + k)), case_bit);
            };
            auto hits = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(at(i), first16), _mm_cmpeq_epi8(at(i + m - 1), last16))));
            for (; hits; hits &= hits - 1) {
                const size_t k = i + static_cast<size_t>(std::countr_zero(hits));
                if (ieq(hay.substr(k, m), needle)) return k;
            }
        }
        for (; i < end; ++i)
            if (ieq(hay.substr(i, m), needle)) return i;
        return std::string_view::npos;
    }
#endif
    const unsigned char first = fold(static_cast<unsigned char>(needle[0]));
    const unsigned char other = (first >= 'a' && first <= 'z') ? static_cast<unsigned char>(first - 32) : first;
    const std::string_view rest = needle.substr(1);
    const size_t last = hay.size() - needle.size();
    const char* base = hay.data();
    const char* const stop = base + last + 1; // "no further occurrence"
    // Next occurrence of each letter case at or after position i. Each is searched again only
    // once i has passed it, so a haystack full of one case (and none of the other) stays linear.
    const char* next_first = nullptr;
    const char* next_other = other != first ? nullptr : stop;
    auto refresh = [&](const char*& cached, unsigned char ch, size_t i) {
        if (cached && cached >= base + i) return;
        const void* p = std::memchr(base + i, ch, last - i + 1);
        cached = p ? static_cast<const char*>(p) : stop;
    };
    size_t i = from;
    while (i <= last) {
        // Jump to the next byte that can start a match.
        refresh(next_first, first, i);
        refresh(next_other, other, i);
        const char* p = std::min(next_first, next_other);
        if (p == stop) return std::string_view::npos;
        i = static_cast<size_t>(p - base);
        if (ieq(hay.substr(i + 1, rest.size()), rest)) return i;
        ++i;
    }
    return std::string_view::npos;
}

uint64_t LineReader::candidates(size_t block) {
    const char* t = text_.data() + block;
    const size_t n = std::min<size_t>(64, text_.size() - block);
    uint64_t bits = 0;
#ifdef __SSE2__
    if (n == 64) {
        const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), ls = _mm_set1_epi8('\xE2');
        __m128i nul = _mm_setzero_si128();
        for (size_t k = 0; k < 4; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 16 * k));
            const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, lf), _mm_cmpeq_epi8(x, cr)), _mm_cmpeq_epi8(x, ls));
            bits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit))) << (16 * k);
            nul = _mm_or_si128(nul, _mm_cmpeq_epi8(x, _mm_setzero_si128()));
        }
        if (_mm_movemask_epi8(nul)) nul_seen_ = true;
        return bits;
    }
#endif
    for (size_t i = 0; i < n; ++i) {
        if (t[i] == '\n' || t[i] == '\r' || t[i] == '\xE2') bits |= uint64_t{1} << i;
        if (t[i] == '\0') nul_seen_ = true;
    }
    return bits;
}

size_t LineReader::next_candidate(size_t from) {
    const size_t n = text_.size();
    while (from < n) {
        const size_t block = from & ~size_t{63};
        if (block != block_) {
            block_ = block;
            bits_ = candidates(block);
        }
        if (const uint64_t m = bits_ & (~uint64_t{0} << (from - block))) return block + static_cast<size_t>(std::countr_zero(m));
        from = block + 64;
    }
    return n;
}

bool LineReader::next_slow(std::string_view& line) {
    if (done_) return false;
    const char* t = text_.data();
    const size_t len = text_.size();
    size_t from = pos_;
    while (true) {
        const size_t i = next_candidate(from);
        if (i >= len) break;
        size_t k = 1; // LF, and a CR on its own
        if (t[i] == '\r') {
            if (i + 2 < len && t[i + 1] == '\r')
                k = t[i + 2] == '\n' ? 3 : 1;
            else if (i + 1 < len && t[i + 1] == '\n')
                k = 2;
        } else if (t[i] == '\xE2') {
            // U+2028 LINE SEPARATOR; any other character with this lead byte is text.
            if (!(i + 2 < len && static_cast<unsigned char>(t[i + 1]) == 0x80 &&
                  static_cast<unsigned char>(t[i + 2]) == 0xA8)) {
                from = i + 1;
                continue;
            }
            k = 3;
        }
        line = text_.substr(pos_, i - pos_);
        pos_ = i + k;
        return true;
    }
    line = text_.substr(pos_);
    pos_ = len;
    done_ = true;
    return true;
}

} // namespace cuekit
