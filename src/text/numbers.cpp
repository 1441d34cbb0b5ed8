// Number conversions that stay defined for every input: NaN, infinities and values that
// do not fit the target type never reach a float-to-int conversion or a signed overflow.
#include "internal.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace cuekit {

int32_t saturate_i32(double v) {
    if (std::isnan(v)) return 0;
    v = std::trunc(v);
    if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

int32_t add_sat(int32_t a, int32_t b) {
    const int64_t s = static_cast<int64_t>(a) + b;
    if (s > INT32_MAX) return INT32_MAX;
    if (s < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(s);
}

namespace {
// The integer prefix of s as atoi/atol read it (leading white space as isspace, a sign,
// digits), saturated to int32 instead of overflowing.
int32_t read_int_prefix(const char* s) {
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
} // namespace

int32_t atoi_sat(const char* s) { return read_int_prefix(s); }
int32_t atol_sat(const char* s) { return read_int_prefix(s); }

uint32_t strtou32_sat(const char* s) {
    if (!s) return 0;
    errno = 0;
    const unsigned long v = std::strtoul(s, nullptr, 10);
    if (errno == ERANGE || v > UINT32_MAX) return UINT32_MAX;
    return static_cast<uint32_t>(v);
}

} // namespace cuekit
