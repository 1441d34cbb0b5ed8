// Number conversions that stay defined for every input: NaN, infinities and values that
// do not fit the target type never reach a float-to-int conversion or a signed overflow.
#include "text/text.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace cuekit {

double strtod_fast(const char* s, char** end) {
    // A mantissa below 10^15 and a power of ten up to 10^22 are both exact doubles, so one
    // division is correctly rounded: the very value strtod gives.
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = s;
    const bool neg = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    uint64_t mantissa = 0;
    int digits = 0, frac = 0;
    bool any = false;
    for (; is_digit(static_cast<unsigned char>(*p)); ++p, any = true) {
        if (mantissa == 0 && *p == '0') continue; // leading zeros are no significant digits
        mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
        ++digits;
    }
    if (*p == '.') {
        for (++p; is_digit(static_cast<unsigned char>(*p)); ++p, any = true) {
            ++frac;
            if (mantissa == 0 && *p == '0') continue;
            mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
            ++digits;
        }
    }
    const bool hex = s[0] == '0' || (s[0] && s[1] == '0'); // "0x..." may follow: leave it to strtod
    if (!any || digits > 15 || frac > 22 || *p == 'e' || *p == 'E' || ((*p == 'x' || *p == 'X') && hex))
        return std::strtod(s, end);
    if (end) *end = const_cast<char*>(p);
    const double v = static_cast<double>(mantissa) / kPow10[frac];
    return neg ? -v : v;
}

float narrow_to_float(double v) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax) return std::numeric_limits<float>::infinity();
    if (v < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

int32_t add_sat(int32_t a, int32_t b) {
    const int64_t s = static_cast<int64_t>(a) + b;
    if (s > INT32_MAX) return INT32_MAX;
    if (s < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(s);
}

// The integer prefix of s as atoi/atol read it (leading white space as isspace, a sign,
// digits), saturated to int32 instead of overflowing.
int32_t atoi_sat(const char* s) {
    if (!s) return 0;
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = *s++ == '-';
    int64_t v = 0;
    for (; is_digit(static_cast<unsigned char>(*s)); ++s) {
        v = v * 10 + (*s - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (neg) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(v);
}

uint32_t strtou32_sat(const char* s) {
    if (!s) return 0;
    errno = 0;
    const unsigned long v = std::strtoul(s, nullptr, 10);
    if (errno == ERANGE || v > UINT32_MAX) return UINT32_MAX;
    return static_cast<uint32_t>(v);
}

} // namespace cuekit
