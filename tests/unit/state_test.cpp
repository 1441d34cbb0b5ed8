// Parse state, cue store, warnings and accessors.
#include "core/core.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace cuekit_test;

namespace {

class StateTest : public ::testing::Test {
protected:
    void SetUp() override { sub_clear(); }
    void TearDown() override { sub_clear(); }
};

TEST_F(StateTest, EmptyStateAnswersNeutrally) {
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_warning_count(), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO);
    EXPECT_STREQ(sub_last_error(), "");
    EXPECT_STREQ(sub_result_json(), "{}");
    EXPECT_EQ(sub_cue_start_ms(0), -1);
    EXPECT_EQ(sub_cue_end_ms(-1), -1);
    EXPECT_EQ(sub_cue_line_count(-1), 0);
    EXPECT_EQ(sub_cue_line(0, -1), nullptr);
    EXPECT_EQ(sub_cue_is_danmu(3), 0);
    EXPECT_EQ(sub_cue_danmu_color(3), 0u);
    EXPECT_EQ(sub_cue_danmu_fontsize(3), 0.0f);
    EXPECT_EQ(sub_warning(0), nullptr);
}

TEST_F(StateTest, CueStoreGrowsByDoublingAndKeepsCues) {
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(sub_cue_add(i * 10, i * 10 + 5), i);
        ASSERT_EQ(sub_cue_add_line(i, ("line " + std::to_string(i)).c_str()), 0);
    }
    EXPECT_EQ(g_sub.capacity, 16);
    ASSERT_EQ(sub_cue_add(999, 1000), 16);
    EXPECT_EQ(g_sub.capacity, 32);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(sub_cue_start_ms(i), i * 10);
        EXPECT_STREQ(sub_cue_line(i, 0), ("line " + std::to_string(i)).c_str());
    }
    EXPECT_EQ(sub_cue_line(16, 0), nullptr);
}

TEST_F(StateTest, NewCueHasSubtitleDefaults) {
    const int i = sub_cue_add(1, 2);
    EXPECT_EQ(sub_cue_is_danmu(i), 0);
    EXPECT_EQ(sub_cue_danmu_mode(i), 0);
    EXPECT_EQ(sub_cue_danmu_color(i), 0u);
    EXPECT_EQ(sub_cue_danmu_fontsize(i), 25.0f);
    EXPECT_EQ(sub_cue_line_count(i), 0);
}

TEST_F(StateTest, LinesAreCopiesAndNullIsEmpty) {
    const int i = sub_cue_add(0, 1);
    char buf[] = "mutable";
    ASSERT_EQ(sub_cue_add_line(i, buf), 0);
    buf[0] = 'X';
    ASSERT_EQ(sub_cue_add_line(i, nullptr), 0);
    EXPECT_EQ(sub_cue_line_count(i), 2);
    EXPECT_STREQ(sub_cue_line(i, 0), "mutable");
    EXPECT_STREQ(sub_cue_line(i, 1), "");
    EXPECT_EQ(sub_cue_add_line(5, "x"), -1);
    EXPECT_EQ(sub_cue_add_line(-1, "x"), -1);
}

TEST_F(StateTest, StringListGrowsFromFour) {
    sub_strlist l{nullptr, 0, 0};
    for (int i = 0; i < 5; ++i) ASSERT_EQ(sub_strlist_push(&l, "a"), 0);
    EXPECT_EQ(l.count, 5);
    EXPECT_EQ(l.capacity, 8);
    sub_strlist_free(&l);
    EXPECT_EQ(l.items, nullptr);
    EXPECT_EQ(l.count, 0);
    sub_strlist_free(nullptr);
}

TEST_F(StateTest, WarningsAreCappedAndCut) {
    const std::string longtext(300, 'w');
    sub_warn("%s", longtext.c_str());
    EXPECT_EQ(std::strlen(sub_warning(0)), 255u);
    for (int i = 1; i < 70; ++i) sub_warn("warning %d", i);
    EXPECT_EQ(sub_warning_count(), 64);
    EXPECT_STREQ(sub_warning(63), "warning 63");
    EXPECT_EQ(sub_warning(64), nullptr);
}

TEST_F(StateTest, ErrorTextIsCutAndReplaced) {
    const std::string longtext(600, 'e');
    sub_set_error("%s", longtext.c_str());
    EXPECT_EQ(std::strlen(sub_last_error()), 511u);
    sub_set_error("second %d", 2);
    EXPECT_STREQ(sub_last_error(), "second 2");
}

TEST_F(StateTest, FormatNames) {
    const std::pair<int, const char*> cases[] = {
        {-1, "auto"}, {0, "srt"}, {1, "vtt"}, {2, "ass"}, {3, "microdvd"}, {4, "subviewer"}, {5, "ttml"},
        {6, "ytxml"}, {7, "lrc"}, {8, "sami"}, {9, "bilibili"}, {10, "acfun"}, {11, "unknown"}, {-2, "unknown"},
        {INT32_MIN, "unknown"},
    };
    for (const auto& [id, name] : cases) EXPECT_STREQ(sub_format_name(id), name) << id;
}

TEST_F(StateTest, ClearTwiceIsHarmless) {
    sub_cue_add(1, 2);
    sub_warn("w");
    sub_clear();
    sub_clear();
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_warning_count(), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO);
    EXPECT_EQ(g_sub.cues, nullptr);
}

TEST_F(StateTest, StatesAreIndependent) {
    // The core works on any state; g_sub is only the one behind the C interface.
    cuekit::Store a;
    const std::string srt = "00:00:01,000 --> 00:00:02,000\nHi\n";
    ASSERT_EQ(cuekit::parse(a, srt.data(), srt.size(), -1, nullptr, false), 0);
    EXPECT_EQ(a.count(), 1u);
    EXPECT_EQ(sub_cue_count(), 0);
}

// Lines whose offset or length would not fit the compact records switch the store to wide
// ones midway; every line, before and after the switch, must read back the same through the
// store and through the C++ view, and after a dropped cue.
TEST_F(StateTest, LinesReadBackAcrossTheSwitchToWideRecords) {
    const std::string text = "first line\nsecond line\nthird line that is long\n";
    const std::string_view t(text);
    struct Add {
        std::string_view s;
        bool in_text;
    };
    const std::vector<Add> adds = {{t.substr(0, 10), true}, {"copied", false}, {t.substr(11, 11), true},
                                   {"", false}, {t.substr(23, 23), true}, {"a copy longer than the limit", false}};
    for (const uint64_t limit : {uint64_t{UINT32_MAX}, uint64_t{12}, uint64_t{0}}) {
        SCOPED_TRACE(limit);
        cuekit::Store st;
        st.set_narrow_limit(limit);
        st.set_text(t, nullptr);
        std::vector<std::vector<std::string>> want;
        for (size_t k = 0; k < adds.size(); ++k) {
            const int cue = cuekit::cue_add(st, static_cast<int32_t>(k), static_cast<int32_t>(k + 1));
            ASSERT_EQ(cuekit::cue_add_line(st, cue, adds[k].s), 0);
            ASSERT_EQ(cuekit::cue_add_line(st, cue, adds[adds.size() - 1 - k].s), 0);
            want.push_back({std::string(adds[k].s), std::string(adds[adds.size() - 1 - k].s)});
        }
        cuekit::cue_add_line(st, cuekit::cue_add(st, 99, 100), "dropped");
        cuekit::drop_last_cue(st);
        const cuekit::detail::Records r = st.records();
        EXPECT_EQ(r.wide_lines != nullptr, limit != UINT32_MAX);
        ASSERT_EQ(st.count(), want.size());
        for (size_t i = 0; i < want.size(); ++i)
            for (size_t j = 0; j < 2; ++j) {
                EXPECT_EQ(st.line(i, j), want[i][j]) << i << "/" << j;
                EXPECT_EQ(cuekit::CueRef(r, i).line(j), want[i][j]) << i << "/" << j;
            }
        // Lines that point into the text make the store copy it when it must stand alone.
        ASSERT_TRUE(st.own_text());
        EXPECT_NE(st.text().data(), text.data());
        EXPECT_EQ(st.line(4, 0), "third line that is long");
    }
}

} // namespace
