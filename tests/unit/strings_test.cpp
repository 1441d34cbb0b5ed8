// String helpers and line splitting.
#include "text/text.hpp"

#include <cuekit.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The lines the parsers' scanner hands out.
std::vector<std::string_view> scanned_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    cuekit::LineReader reader(text);
    std::string_view line;
    while (reader.next(line)) lines.push_back(line);
    return lines;
}

std::string trimmed(std::string s) {
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back('\0');
    sub_trim_inplace(buf.data());
    return buf.data();
}

TEST(Strings, Trim) {
    EXPECT_EQ(trimmed(" \t\r\nabc \n"), "abc");
    EXPECT_EQ(trimmed("\vabc\f"), "\vabc\f");
    EXPECT_EQ(trimmed("   "), "");
    EXPECT_EQ(trimmed("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
    sub_trim_inplace(nullptr);
}

TEST(Strings, CaseInsensitiveComparisons) {
    EXPECT_EQ(sub_str_ieq("UTF-8", "utf-8"), 1);
    EXPECT_EQ(sub_str_ieq("abc", "abcd"), 0);
    EXPECT_EQ(sub_str_ieq(nullptr, nullptr), 1);
    EXPECT_EQ(sub_str_ieq(nullptr, ""), 0);
    EXPECT_EQ(sub_str_ieq("", ""), 1);
    EXPECT_EQ(sub_str_ieq("\xC3\x89", "\xC3\xA9"), 0); // only ASCII letters fold
    EXPECT_EQ(sub_str_istart("WEBVTT FILE", "webvtt"), 1);
    EXPECT_EQ(sub_str_istart("web", "webvtt"), 0);
    EXPECT_EQ(sub_str_istart("anything", ""), 1);
    EXPECT_EQ(sub_str_istart(nullptr, ""), 0);
}

TEST(Strings, CaseInsensitiveSearch) {
    const char* hay = "Hello World";
    EXPECT_EQ(sub_str_casestr(hay, ""), hay);
    EXPECT_EQ(sub_str_casestr(hay, nullptr), hay);
    EXPECT_EQ(sub_str_casestr("", "x"), nullptr);
    EXPECT_EQ(sub_str_casestr(nullptr, "x"), nullptr);
    EXPECT_EQ(sub_str_casestr(hay, "hELLO"), hay);
    EXPECT_EQ(sub_str_casestr(hay, "WORLD"), hay + 6);
    EXPECT_EQ(sub_str_casestr(hay, "worlds"), nullptr);
    const char* rep = "aaAB";
    EXPECT_EQ(sub_str_casestr(rep, "ab"), rep + 2);
    const char* overlap = "xxXxY";
    EXPECT_EQ(sub_str_casestr(overlap, "xxy"), overlap + 2);
}

TEST(Strings, Copies) {
    const char bytes[] = {'a', 'b', '\0', 'c', 'd'};
    char* c = sub_strndup(bytes, 5);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c, "ab");
    EXPECT_EQ(std::memcmp(c, "ab\0cd\0", 6), 0);
    std::free(c);
    EXPECT_EQ(sub_strndup(nullptr, 3), nullptr);
    char* d = sub_strdup("xyz");
    EXPECT_STREQ(d, "xyz");
    std::free(d);
    EXPECT_EQ(sub_strdup(nullptr), nullptr);
}

std::vector<std::string> split(const std::string& text) {
    int n = -7;
    char** lines = sub_split_lines(text.data(), text.size(), &n);
    std::vector<std::string> out;
    if (!lines) return out;
    for (int i = 0; i < n; ++i) out.emplace_back(lines[i]);
    sub_free_lines(lines, n);
    // The view-based scanner the parsers use must cut exactly the same way.
    std::vector<std::string> views;
    for (auto v : scanned_lines(text)) views.emplace_back(cuekit::until_nul(v));
    EXPECT_EQ(out, views) << "scanner disagrees for " << text;
    return out;
}

TEST(Lines, Terminators) {
    using V = std::vector<std::string>;
    const std::pair<std::string, V> cases[] = {
        {"", V{""}},
        {"a", V{"a"}},
        {"a\n", V{"a", ""}},
        {"a\nb", V{"a", "b"}},
        {"a\r\r\nb", V{"a", "b"}},
        {"a\r\rb", V{"a", "", "b"}},
        {"a\rb", V{"a", "b"}},
        {"a\r", V{"a", ""}},
        {"a\r\nb\r\n", V{"a", "b", ""}},
        {"a\xE2\x80\xA8" "b", V{"a", "b"}},
        {"a\xE2\x80", V{"a\xE2\x80"}},
        {"a\xE2\x80\xA9" "b", V{"a\xE2\x80\xA9" "b"}},
        {"a\xC2\x85" "b\vc\fd", V{"a\xC2\x85" "b\vc\fd"}},
        {std::string("a\0b\nc", 5), V{"a", "c"}},
        {"\r\r", V{"", "", ""}},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(split(text), want);
}

TEST(Lines, CountIsTerminatorsPlusOne) {
    for (int n : {63, 64, 65, 200}) {
        std::string text;
        for (int i = 0; i < n; ++i) text += "x\n";
        text += "tail";
        const auto lines = split(text);
        ASSERT_EQ(lines.size(), static_cast<size_t>(n + 1));
        EXPECT_EQ(lines.back(), "tail");
    }
    sub_free_lines(nullptr, 3);
}

TEST(Strings, FindIgnoringCase) {
    using cuekit::ifind;
    EXPECT_EQ(ifind("abcABC", "ABC", 1), 3u);
    EXPECT_EQ(ifind("abc", "", 3), 3u);
    EXPECT_EQ(ifind("abc", "", 4), std::string_view::npos);
    EXPECT_EQ(ifind("ab", "abc"), std::string_view::npos);
    EXPECT_EQ(ifind("<P begin", "<p"), 0u);
    EXPECT_EQ(ifind("x[Events]", "[events]"), 1u);
    EXPECT_EQ(ifind("tTtTtml", "TTML"), 3u);
    EXPECT_EQ(ifind("ppppP=\"", "p=\""), 4u);
    // Against every start position compared whole, on texts of a few letters in both cases
    // and the bytes that differ from them only in bit 5, across the sixteen-byte steps.
    std::mt19937 rng(3);
    const std::string alphabet = "tTlLmM\x14\x0c<\x1c=p";
    for (int round = 0; round < 3000; ++round) {
        std::string hay, needle;
        for (size_t n = rng() % 70; hay.size() < n;) hay += alphabet[rng() % alphabet.size()];
        for (size_t n = 1 + rng() % 4; needle.size() < n;) needle += alphabet[rng() % alphabet.size()];
        const size_t from = rng() % (hay.size() + 2);
        size_t want = std::string_view::npos;
        for (size_t i = from; i + needle.size() <= hay.size() && want == std::string_view::npos; ++i)
            if (cuekit::ieq(std::string_view(hay).substr(i, needle.size()), needle)) want = i;
        ASSERT_EQ(ifind(hay, needle, from), want) << round;
    }
}

TEST(Strings, FindIgnoringCaseStaysLinear) {
    // Millions of one letter case and none of the other: the search for the other case must
    // not be repeated from every candidate.
    const std::string hay(1 << 20, 't');
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(cuekit::ifind(hay, "ttml"), std::string_view::npos);
    EXPECT_EQ(cuekit::ifind(hay + "TTML", "ttml"), hay.size());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
}

} // namespace

namespace {

// The terminator rules written out literally, byte by byte.
std::vector<std::string> reference_split(const std::string& t) {
    std::vector<std::string> out;
    size_t s = 0, i = 0;
    const size_t len = t.size();
    while (i < len) {
        size_t k = 0;
        if (t[i] == '\r') {
            if (i + 2 < len && t[i + 1] == '\r') k = t[i + 2] == '\n' ? 3 : 1;
            else k = (i + 1 < len && t[i + 1] == '\n') ? 2 : 1;
        } else if (t[i] == '\n') {
            k = 1;
        } else if (t[i] == '\xE2' && i + 2 < len && t[i + 1] == '\x80' && t[i + 2] == '\xA8') {
            k = 3;
        }
        if (k == 0) {
            ++i;
            continue;
        }
        out.push_back(t.substr(s, i - s));
        s = i = i + k;
    }
    out.push_back(t.substr(s));
    return out;
}

// Shapes are matched eight bytes a step: against byte-by-byte matching, on copies of the shape
// with a byte or two changed to neighbours of digits and separators (and high bytes whose low
// bits look like digits), cut or extended around the shape's length.
TEST(Strings, ShapeMatchesByteByByte) {
    static constexpr char kText[] = "DD:DD:DDF,DD:DD:DD.D";
    static constexpr cuekit::Shape kShape(kText);
    const std::string_view shape(kText, sizeof kText - 1);
    const auto reference = [&](std::string_view s) {
        if (s.size() < shape.size()) return false;
        for (size_t i = 0; i < shape.size(); ++i) {
            const char c = s[i];
            const bool ok = shape[i] == 'D' ? cuekit::is_digit(static_cast<unsigned char>(c))
                            : shape[i] == 'F' ? c == '.' || c == ','
                                              : c == shape[i];
            if (!ok) return false;
        }
        return true;
    };
    const std::string odd = "/:;-.,+0123456789\xB0\xB9\xBA\x80\xFF\x09 a";
    std::mt19937 rng(11);
    for (int round = 0; round < 50000; ++round) {
        std::string s;
        for (const char c : shape) s += c == 'D' ? static_cast<char>('0' + rng() % 10) : c == 'F' ? ".,"[rng() % 2] : c;
        for (int k = static_cast<int>(rng() % 3); k > 0; --k) s[rng() % s.size()] = odd[rng() % odd.size()];
        s.resize(shape.size() - 2 + rng() % 5, '7');
        ASSERT_EQ(kShape.starts(s), reference(s)) << round << " " << s;
    }
}

// The usual clock is read by position; a leading byte that is no digit sends the same stamp
// through the general reading, which must agree.
TEST(Strings, ClockByPositionMatchesTheGeneralReading) {
    std::mt19937 rng(5);
    const char* const tails[] = {"", " ", ",", "x", " --> 00:00:01,000", ":12", ".5"};
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        for (int field = 0; field < 3; ++field) {
            if (field) s += ':';
            s += static_cast<char>('0' + rng() % 10);
            s += static_cast<char>('0' + rng() % 10);
        }
        s += ".,"[rng() % 2];
        for (int k = 1 + static_cast<int>(rng() % 5); k > 0; --k) s += static_cast<char>('0' + rng() % 10);
        s += tails[rng() % std::size(tails)];
        for (const bool strict : {false, true})
            ASSERT_EQ(cuekit::parse_hms_ms(s, strict), cuekit::parse_hms_ms("x" + s, strict)) << s;
    }
}

TEST(Lines, ScannerMatchesTheByteByByteRules) {
    std::mt19937 rng(7);
    const std::string pieces[] = {"a", "\n", "\r", "\r\n", "\r\r\n", "\r\r", "\xE2", "\xE2\x80", "\xE2\x80\xA8",
                                  "\xE2\x80\xA9", "\xE2\x82\xAC", std::string(1, '\0'), "xyz", std::string(37, 'x')};
    // Long texts too: the scanner works in blocks of 64 bytes.
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % (round % 4 == 0 ? 200 : 20));
        for (int i = 0; i < n; ++i) {
            text += pieces[rng() % std::size(pieces)];
        }
        std::vector<std::string> got;
        cuekit::LineReader reader(text);
        std::string_view line;
        while (reader.next(line)) {
            got.emplace_back(line);
            // Readers skip their NUL search on the scanner's word: it must never miss one.
            ASSERT_TRUE(line.find('\0') == std::string_view::npos || reader.nul_seen()) << round;
        }
        ASSERT_EQ(got, reference_split(text)) << round;
    }
}

} // namespace
