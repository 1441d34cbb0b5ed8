// Integers in decimal, two digits a step: the listing and the JSON document write several per
// cue, and the general conversion's checks cost more than the digits themselves.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace cuekit {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The number of digits of v, from its bit width (log10 2 is about 1233 / 4096) and one compare.
inline int decimal_digits(uint64_t v) {
    static constexpr uint64_t kPow10[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull,
                                          100000000ull, 1000000000ull, 10000000000ull, 100000000000ull,
                                          1000000000000ull, 10000000000000ull, 100000000000000ull,
                                          1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
                                          1000000000000000000ull, 10000000000000000000ull};
    v |= 1;
    const auto t = static_cast<int>((std::bit_width(v) * 1233) >> 12);
    return t + 1 - (v < kPow10[t]);
}

// Writes v at p; returns the end. 32-bit numbers, which most are, divide faster.
template <typename U>
inline __attribute__((always_inline)) char* write_digits(char* p, U v) {
    char* const end = p + decimal_digits(v);
    char* q = end;
    while (v >= 100) {
        const auto pair = static_cast<std::size_t>(v % 100) * 2;
        v /= 100;
        *--q = kDigitPairs[pair + 1];
        *--q = kDigitPairs[pair];
    }
    if (v >= 10) {
        *--q = kDigitPairs[v * 2 + 1];
        *--q = kDigitPairs[v * 2];
    } else {
        *--q = static_cast<char>('0' + v);
    }
    return end;
}

// Writes v at p (at most 20 bytes); returns the end.
inline char* write_decimal(char* p, unsigned long long v) {
    return v <= UINT32_MAX ? write_digits(p, static_cast<uint32_t>(v)) : write_digits(p, v);
}

// Writes v at p (at most 20 bytes, sign included); returns the end.
inline char* write_decimal(char* p, long long v) {
    if (v >= 0) return write_decimal(p, static_cast<unsigned long long>(v));
    *p++ = '-';
    return write_decimal(p, 0ull - static_cast<unsigned long long>(v));
}

} // namespace cuekit
