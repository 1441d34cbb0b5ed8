// Integers in decimal, two digits a step: the listing and the JSON document write several per
// cue, and the general conversion's checks cost more than the digits themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cuekit {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The number of digits of v. Branches, not a table: the numbers of a document (times, one
// after another) mostly have as many digits as the one before.
template <typename U>
int decimal_digits(U v) {
    int n = 1;
    for (;;) {
        if (v < 10) return n;
        if (v < 100) return n + 1;
        if (v < 1000) return n + 2;
        if (v < 10000) return n + 3;
        v /= 10000;
        n += 4;
    }
}

// Writes v at p; returns the end. 32-bit numbers, which most are, divide faster.
template <typename U>
char* write_digits(char* p, U v) {
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
