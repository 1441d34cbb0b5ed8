// Number conversions: the fast decimal reader must agree with strtod bit for bit, the decimal
// writer with to_chars.
#include "text/decimal.hpp"
#include "text/text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

void expect_same_as_strtod(const std::string& s) {
    char* want_end = nullptr;
    char* got_end = nullptr;
    const double want = std::strtod(s.c_str(), &want_end);
    const double got = cuekit::strtod_fast(s.c_str(), &got_end);
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << s;
    } else {
        EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << s;
    }
    EXPECT_EQ(got_end - s.c_str(), want_end - s.c_str()) << s;
}

TEST(Numbers, FastDecimalReaderAgreesWithStrtod) {
    const char* fixed[] = {"0", "-0", "+1", "1.", ".5", ".", "-.", "", " 1.5", "- 1", "1e5", "1e", "1E-3x", "0x1A",
                           "-0x1p3", "10x", "00x5", "inf", "-nan", "1.5s", "12.345,4", "0.000001",
                           "123456789012345", "1234567890123456", "0.1234567890123456789012", "99999999999999999999",
                           "3.4028235e38", "1.7976931348623157e308", "4.9e-324", "00000000000000000001.5",
                           "1.00000000000000000000000", "7,,5,99", "25", "18.3", "-1.5"};
    for (const char* s : fixed) expect_same_as_strtod(s);

    std::mt19937_64 rng(42);
    const std::string alphabet = "0123456789..-+eExs ,";
    for (int i = 0; i < 200000; ++i) {
        std::string s;
        const size_t len = rng() % 24;
        for (size_t k = 0; k < len; ++k) {
            // Mostly digits and points, so that many strings take the fast path.
            s += (rng() % 4) ? static_cast<char>('0' + rng() % 10) : alphabet[rng() % alphabet.size()];
        }
        expect_same_as_strtod(s);
    }
}

TEST(Numbers, SaturatingConversions) {
    using cuekit::saturate_i32;
    EXPECT_EQ(saturate_i32(std::nan("")), 0);
    EXPECT_EQ(saturate_i32(1e300), INT32_MAX);
    EXPECT_EQ(saturate_i32(-std::numeric_limits<double>::infinity()), INT32_MIN);
    EXPECT_EQ(saturate_i32(-1.9), -1);
    EXPECT_EQ(cuekit::add_sat(INT32_MAX, 3000), INT32_MAX);
    EXPECT_EQ(cuekit::atoi_sat("  -99999999999999"), INT32_MIN);
    EXPECT_EQ(cuekit::atoi_sat("2147483648"), INT32_MAX);
    EXPECT_EQ(cuekit::strtou32_sat("4294967296"), UINT32_MAX);
    EXPECT_EQ(cuekit::strtou32_sat("255x"), 255u);
}

} // namespace

// The decimal writer against the library's conversion: every number below two million, the
// edges of each digit count and of the word-at-once path, and random 64-bit values.
TEST(Decimal, SameAsToChars) {
    std::vector<long long> values;
    for (long long v = 0; v < 2000000; ++v) values.push_back(v);
    for (long long p = 1;; p *= 10) {
        for (const long long d : {-1LL, 0LL, 1LL}) values.insert(values.end(), {p + d, -(p + d)});
        if (p > LLONG_MAX / 10) break;
    }
    values.insert(values.end(), {99999999, 100000000, INT32_MAX, INT32_MIN, LLONG_MAX, LLONG_MIN});
    std::mt19937_64 rng(5);
    for (int i = 0; i < 100000; ++i) values.push_back(static_cast<long long>(rng() >> (rng() % 64)));
    for (const long long v : values) {
        char want[24], got[32];
        const std::string_view w(want, static_cast<size_t>(std::to_chars(want, want + sizeof want, v).ptr - want));
        ASSERT_EQ(std::string_view(got, static_cast<size_t>(cuekit::write_decimal(got, v) - got)), w);
        if (v >= 0) {
            const auto u = static_cast<unsigned long long>(v);
            ASSERT_EQ(std::string_view(got, static_cast<size_t>(cuekit::write_decimal(got, u) - got)), w);
        }
    }
}
