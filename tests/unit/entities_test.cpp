// Character references decoded in place.
#include "text/text.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::string decode(std::string s) {
    s.push_back('\0');
    sub_html_decode_inplace(s.data());
    return std::string(s.c_str());
}

const std::string kReplacement = "\xEF\xBF\xBD";

struct Case {
    const char* in;
    std::string want;
};

TEST(Entities, Named) {
    const Case cases[] = {
        {"&nbsp;", " "},          // a plain space, not U+00A0
        {"&NBSP;", " "},
        {"&Nbsp;", "&Nbsp;"},     // only the two spellings above
        {"&AMP;", "&AMP;"},
        {"&amp", "&amp"},         // no semicolon, no entity
        {"&lt;b&gt;", "<b>"},
        {"&quot;&apos;", "\"'"},
        {"a&b&amp;c", "a&b&c"},
        {"&lt;&lt;&gt;", "<<>"},
        {"&copy; &eacute;", "&copy; &eacute;"}, // unknown names stay
        {"caf\xC3\xA9 &amp; \xE6\x97\xA5", "caf\xC3\xA9 & \xE6\x97\xA5"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.in), c.want) << c.in;
}

TEST(Entities, NumericEncodings) {
    const Case cases[] = {
        {"&#65;", "A"},
        {"&#x41;", "A"},
        {"&#X41;", "A"},
        {"&#0000065;", "A"},
        {"&#x7f;", "\x7F"},
        {"&#x80;", "\xC2\x80"},
        {"&#xe9;", "\xC3\xA9"},
        {"&#233;", "\xC3\xA9"},
        {"&#x7FF;", "\xDF\xBF"},
        {"&#x800;", "\xE0\xA0\x80"},
        {"&#8364;", "\xE2\x82\xAC"},
        {"&#x20ac;", "\xE2\x82\xAC"},
        {"&#xFFFF;", "\xEF\xBF\xBF"},
        // Beyond the basic plane: four bytes, up to the last code point.
        {"&#x10000;", "\xF0\x90\x80\x80"},
        {"&#128512;", "\xF0\x9F\x98\x80"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
        {"a&#x1F389;&#x1F389;b", "a\xF0\x9F\x8E\x89\xF0\x9F\x8E\x89" "b"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.in), c.want) << c.in;
}

TEST(Entities, NumericValuesThatAreNoCharacterBecomeReplacement) {
    const char* cases[] = {
        "&#0;", "&#x0;", "&#;", "&#x;",           // zero would cut the string
        "&#xD800;", "&#55296;", "&#xDFFF;",       // surrogates
        "&#x110000;", "&#1114112;",               // beyond U+10FFFF
        "&#99999999999999999999999;",             // digits that overflow any integer
        "&#x100000000041;", "&#xFFFFFFFF;", "&#4294967361;", // would wrap to a valid value
    };
    for (const char* c : cases) EXPECT_EQ(decode(c), kReplacement) << c;
    EXPECT_EQ(decode("a&#0;b"), "a" + kReplacement + "b");
}

TEST(Entities, IncompleteReferencesStayText) {
    const char* cases[] = {
        "&#65", "&#x4G;", "&", "a&", "&#", "&#x", "& amp;", "&#-65;", "&#+65;", "&# 65;", "&#x 41;", "&#65 ;",
        "&#x41x;",
    };
    for (const char* c : cases) EXPECT_EQ(decode(c), c) << c;
    EXPECT_EQ(decode("&&amp;"), "&&");
    EXPECT_EQ(decode("&#&#65;"), "&#A");
}

TEST(Entities, ReplacementsAreNotRescanned) {
    EXPECT_EQ(decode("&amp;lt;"), "&lt;");
    EXPECT_EQ(decode("&amp;#65;"), "&#65;");
    EXPECT_EQ(decode("&#38;amp;"), "&amp;");
}

TEST(Entities, NullEmptyAndBytesBehindTheNewEnd) {
    sub_html_decode_inplace(nullptr);
    char empty[] = "";
    sub_html_decode_inplace(empty);
    EXPECT_STREQ(empty, "");

    char buf[] = "&amp;XYZ";
    sub_html_decode_inplace(buf);
    EXPECT_STREQ(buf, "&XYZ");
    EXPECT_STREQ(buf + 5, "XYZ"); // untouched after the new terminator
}

TEST(Entities, LengthFormStopsAtNul) {
    std::string s("a&amp;b\0&amp;c", 14);
    const size_t n = cuekit::html_decode(s.data(), s.size());
    EXPECT_EQ(std::string(s.data(), n), "a&b");
}

// Whatever the input, the output never outgrows it (writing stays behind reading), and no
// reference can cut the text with a zero byte.
TEST(Entities, OutputNeverLongerThanInput) {
    const std::string alphabet = "&#xX;0123456789abcdefABCDEFGlt;gamp";
    std::mt19937 rng(12345);
    for (int round = 0; round < 20000; ++round) {
        std::string in;
        const size_t len = rng() % 24;
        for (size_t i = 0; i < len; ++i) in.push_back(alphabet[rng() % alphabet.size()]);
        std::string buf = in;
        buf.push_back('\0');
        const size_t n = cuekit::html_decode(buf.data(), in.size());
        ASSERT_LE(n, in.size()) << in;
        ASSERT_EQ(std::memchr(buf.data(), '\0', n), nullptr) << in;
    }
}

TEST(Entities, LongRunsStayLinear) {
    // Megabytes of would-be references without their semicolon.
    std::string s;
    for (int i = 0; i < 200000; ++i) s += "&#123456";
    s += std::string(1 << 20, '7');
    std::string buf = s + '\0';
    const size_t n = cuekit::html_decode(buf.data(), s.size());
    EXPECT_EQ(std::string(buf.data(), n), s);
}

} // namespace
