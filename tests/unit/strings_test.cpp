// String helpers and line splitting.
#include "internal.hpp"

#include <cuekit.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

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
    for (auto v : cuekit::split_line_views(text)) views.emplace_back(cuekit::until_nul(v));
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
}

} // namespace
