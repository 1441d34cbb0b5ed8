#include "test_util.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::parse;

namespace {

constexpr int kLrc = 7;

struct LrcCase {
    const char* name;
    std::string text;
    std::vector<Cue> expected;
};

TEST(Lrc, Lyrics) {
    std::string twenty;
    for (int i = 1; i <= 20; ++i) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "[00:%02d.00]", i);
        twenty += tag;
    }
    const LrcCase cases[] = {
        {"basic", "[00:01.50]Hello\n[00:03.00]World\n", {{1500, 3000, {"Hello"}}, {3000, 6000, {"World"}}}},
        {"repeated tags",
         "[00:05.00][00:10.00]Chorus",
         {{5000, 10000, {"Chorus"}}, {10000, 13000, {"Chorus"}}}},
        {"time forms",
         "[01:02.5]a\n[1:3]b\n[00:01.001]c",
         {{1001, 62500, {"c"}}, {62500, 63000, {"a"}}, {63000, 66000, {"b"}}}},
        {"chain stops at a space", "[00:01.00] [00:02.00]text", {{1000, 4000, {"[00:02.00]text"}}}},
        {"trimmed line and text", " \t[00:01.00]  padded  \r\n", {{1000, 4000, {"padded"}}}},
        {"empty lyric ends the previous one",
         "[00:01.00]a\n[00:04.00]",
         {{1000, 4000, {"a"}}, {4000, 7000, {""}}}},
        {"unclosed tag is text", "[00:01.00][abc", {{1000, 4000, {"[abc"}}}},
        {"stray bracket in text", "[00:01.00]a]b", {{1000, 4000, {"a]b"}}}},
        {"unknown tags in the chain",
         "[chorus][00:01.00]x\n[ti:Song]\nplain text\n[by:me][00:02.00]y",
         {{1000, 2000, {"x"}}, {2000, 5000, {"y"}}}},
        {"sixteen tags per line", twenty + "x",
         [] {
             std::vector<Cue> v;
             for (int i = 1; i <= 16; ++i)
                 v.push_back({i * 1000, i == 16 ? 19000 : (i + 1) * 1000, {"x"}});
             return v;
         }()},
        {"sorted by time", "[00:05.00]two\n[00:01.00]one", {{1000, 5000, {"one"}}, {5000, 8000, {"two"}}}},
        // One cue per time, its lyrics in file order: the original and its translation.
        {"equal times share one cue",
         "[00:05.00]first\n[00:05.00]second\n[00:09.00]after",
         {{5000, 9000, {"first", "second"}}, {9000, 12000, {"after"}}}},
        {"lines in file order",
         "[00:05.00]one\n[00:05.00]two\n[00:03.00]three",
         {{3000, 5000, {"three"}}, {5000, 8000, {"one", "two"}}}},
        {"empty lyric kept only alone",
         "[00:01.00]\n[00:01.00]a\n[00:02.00]\n[00:02.00]\n[00:03.00]b",
         {{1000, 2000, {"a"}}, {2000, 3000, {""}}, {3000, 6000, {"b"}}}},
        {"offset earlier", "[offset:500]\n[00:01.50]x", {{1000, 4000, {"x"}}}},
        {"offset later, any case", "[Offset:-500]\n[00:01.50]x", {{2000, 5000, {"x"}}}},
        {"offset below zero", "[offset:500]\n[00:00.30]x", {{-200, 2800, {"x"}}}},
        {"last offset wins everywhere", "[offset:100]\n[00:01.00]a\n[offset:300]", {{700, 3700, {"a"}}}},
        {"NUL ends a line",
         std::string("[00:01.00]ab\0cd\n[00:02.00]e", 27),
         {{1000, 2000, {"ab"}}, {2000, 5000, {"e"}}}},
        // Values beyond the 32-bit range saturate instead of overflowing.
        {"huge minutes", "[99999999999:00]x", {{INT_MAX, INT_MAX, {"x"}}}},
        {"huge seconds", "[00:1e300]x", {{INT_MAX, INT_MAX, {"x"}}}},
        {"huge offset", "[offset:1e300]\n[00:01.00]x", {{INT_MIN, INT_MIN + 3000, {"x"}}}},
        {"end saturates", "[35791:23.000]x", {{2147483000, INT_MAX, {"x"}}}},
        // A lyric ends where its line ends, whatever ends it.
        {"line ends",
         std::string("[00:01.00]a \xE2\x80\xA8[00:02.00]b\r[00:03.00]c\xE2\x80x") + '\0' + "[00:09.00]z\n[00:04.00]d\t",
         {{1000, 2000, {"a"}}, {2000, 3000, {"b"}}, {3000, 4000, {"c\xE2\x80x"}}, {4000, 7000, {"d"}}}},
        {"empty seconds at the very end", "[01:00]x\n[02:]", {{60000, 120000, {"x"}}, {120000, 123000, {""}}}},
        {"tag cut at 127 bytes", "[00:01." + std::string(130, '0') + "5]x", {{1000, 4000, {"x"}}}},
        {"shift merges saturated times", "[offset:-1e300]\n[00:01.00]a\n[00:02.00]b",
         {{INT_MAX, INT_MAX, {"a", "b"}}}},
    };
    for (const LrcCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(parse(c.text, kLrc), 0) << sub_last_error();
        EXPECT_EQ(sub_detected_format(), kLrc);
        EXPECT_EQ(cues(), c.expected);
    }
}

// Times come from the decimal digits: a binary fraction must not lose the last millisecond.
TEST(Lrc, TimesFromTheDigits) {
    const struct {
        const char* tags;
        int start;
    } cases[] = {
        {"[00:02.01]", 2010},         {"[00:04.06]", 4060},       {"[00:01.001]", 1001},
        {"[00:01.5]", 1500},          {"[00:01.999999]", 1999},   {"[1:00.29]", 60290},
        {"[00:02.01][offset:10]", 2000}, {"[00:02.01][offset:-7]", 2017}, {"[00:00.58][offset:+580]", 0},
        {"[00:02.]", 2000},           {"[00:07]", 7000},          {"[00:02.01x]", 2010},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tags);
        ASSERT_EQ(parse(std::string(c.tags) + "x", kLrc), 0);
        EXPECT_EQ(cues().front().start, c.start);
    }
}

TEST(Lrc, NothingToSing) {
    for (const std::string text : {"", "[ti:Title]\n[ar:Someone]\n[offset:100]", "[00:01.00",
                                   "lyrics without tags", "[-1:00]negative is metadata", "[0001]no colon"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse(text, kLrc), text.empty() ? 3 : 5);
        if (!text.empty()) {
            EXPECT_STREQ(sub_last_error(), "no LRC lyrics");
        }
        EXPECT_EQ(sub_cue_count(), 0);
    }
}

// The cues straight from the rule: entries grouped by time in ascending order, each group's
// non-empty lyrics in file order (or one empty line), ending at the next time.
std::vector<Cue> reference_cues(const std::vector<std::pair<int, std::string>>& e) {
    std::map<int, std::vector<std::string>> by_time;
    for (const auto& [time, text] : e) by_time[time].push_back(text);
    std::vector<Cue> out;
    for (auto it = by_time.begin(); it != by_time.end(); ++it) {
        const auto next = std::next(it);
        Cue c{it->first, next != by_time.end() ? next->first : it->first + 3000, {}};
        for (const std::string& t : it->second)
            if (!t.empty()) c.lines.push_back(t);
        if (c.lines.empty()) c.lines.emplace_back();
        out.push_back(std::move(c));
    }
    return out;
}

std::string time_tag(int ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "[%02d:%02d.%03d]", ms / 60000, ms / 1000 % 60, ms % 1000);
    return buf;
}

void check_random_files(std::mt19937& rng, int files, int max_lines, int distinct_times) {
    for (int f = 0; f < files; ++f) {
        const int lines = 1 + static_cast<int>(rng() % static_cast<unsigned>(max_lines));
        const int offset = rng() % 4 == 0 ? static_cast<int>(rng() % 2001) - 1000 : 0;
        std::string text;
        if (offset != 0) text += "[offset:" + std::to_string(offset) + "]\n";
        std::vector<std::pair<int, std::string>> entries;
        for (int l = 0; l < lines; ++l) {
            std::string lyric = rng() % 5 == 0 ? "" : "L" + std::to_string(l);
            const int tags = 1 + static_cast<int>(rng() % 3);
            for (int t = 0; t < tags; ++t) {
                const int ms = static_cast<int>(rng() % static_cast<unsigned>(distinct_times)) * 500;
                text += time_tag(ms);
                entries.emplace_back(ms - offset, lyric);
            }
            text += lyric + "\n";
        }
        ASSERT_EQ(parse(text, kLrc), 0) << text;
        ASSERT_EQ(cues(), reference_cues(entries)) << text;
    }
}

TEST(Lrc, CuesMatchTheRuleOnRandomFiles) {
    std::mt19937 rng(20240607);
    check_random_files(rng, 4000, 24, 4);  // long runs of equal times
    check_random_files(rng, 2000, 60, 12); // mixed
    check_random_files(rng, 10, 1500, 6);  // big runs
}

} // namespace
