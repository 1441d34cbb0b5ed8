// SubRip blocks and timing lines.
#include "formats/formats.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace cuekit_test;

namespace {

struct Case {
    const char* name;
    std::string text;
    std::vector<Cue> want;
};

TEST(Srt, Blocks) {
    const Case cases[] = {
        {"numbered", "1\n00:00:01,000 --> 00:00:02,500\nHello\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n",
         {{1000, 2500, {"Hello"}}, {3000, 4000, {"World"}}}},
        {"unnumbered", "00:00:01,000 --> 00:00:02,500\nHello\n\n00:00:03,000 --> 00:00:04,000\nWorld",
         {{1000, 2500, {"Hello"}}, {3000, 4000, {"World"}}}},
        // A strict timing line inside a cue starts the next one; a bare number just before
        // it is that cue's identifier, any other line stays text.
        {"no blank between blocks", "1\n00:00:01,000 --> 00:00:02,000\nA\n2\n00:00:03,000 --> 00:00:04,000\nB\n",
         {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}}},
        {"identifier that is no number stays text",
         "00:00:01,000 --> 00:00:02,000\nA\n12\nid-2\n00:00:03.000-->00:00:04.000 X:1\nB\n",
         {{1000, 2000, {"A", "12", "id-2"}}, {3000, 4000, {"B"}}}},
        {"cue left without text is dropped", "00:00:01,000 --> 00:00:02,000\n7\n00:00:03,000 --> 00:00:04,000\nB",
         {{3000, 4000, {"B"}}}},
        {"looser timing lines stay text",
         "00:00:01,000 --> 00:00:02,000\nMeet at 10:30 -> 11:45\n1:00.000 --> 1:02.000\n"
         "00:00:03,000 --> 00:00:04,0\n00:00:03,000 --> 00:00:04,000x\n42",
         {{1000, 2000, {"Meet at 10:30 -> 11:45", "1:00.000 --> 1:02.000", "00:00:03,000 --> 00:00:04,0",
                        "00:00:03,000 --> 00:00:04,000x", "42"}}}},
        {"timing without text", "00:00:01,000 --> 00:00:02,000\n\n00:00:03,000 --> 00:00:04,000\nB\n",
         {{3000, 4000, {"B"}}}},
        {"trimmed lines, space-only line ends block",
         "00:00:01,000 --> 00:00:02,000\n  <i>A</i>\t\n \t \nstray\n00:00:03,000 --> 00:00:04,000\nB",
         {{1000, 2000, {"<i>A</i>"}}, {3000, 4000, {"B"}}}},
        {"fractions and short form", "00:00:01.5 --> 00:00:02.25\nA\n\n00:01,000 --> 00:02,000\nB",
         {{1500, 2250, {"A"}}, {1000, 2000, {"B"}}}},
        {"arrow forms", "00:00:01,000->00:00:02,000\nA\n\n00:00:03,000 - > 00:00:04,000\nB",
         {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}}},
        {"reversed kept", "00:00:05,000 --> 00:00:01,000\nA", {{5000, 1000, {"A"}}}},
        {"coordinates dropped", "00:00:01,000 --> 00:00:02,000 X1:40 X2:600 Y1:20 Y2:50\nA", {{1000, 2000, {"A"}}}},
        {"number on timing line", "1 00:00:01,000 --> 00:00:02,000\nA\n\n00:00:03,000 --> 00:00:04,000\nB",
         {{3000, 4000, {"B"}}}},
        {"prose arrow", "Meet at 10:30 -> 11:45\nbring cake", {{630000, 705000, {"bring cake"}}}},
        {"crlf and cr", "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\n\r\n2\r00:00:03,000 --> 00:00:04,000\rB\r",
         {{1000, 2000, {"A"}}, {3000, 4000, {"B"}}}},
        {"first arrow wins", "00:00:01,000 --> 00:00:02,000 --> 00:00:09,000\nA", {{1000, 2000, {"A"}}}},
        {"nul cuts a line", std::string("00:00:01,000 --> 00:00:02,000\nab\0cd\n", 37), {{1000, 2000, {"ab"}}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(run_parser(sub_parse_srt, c.text), 0) << c.name;
        EXPECT_EQ(sub_detected_format(), SUB_FORMAT_SRT) << c.name;
        EXPECT_EQ(cues(), c.want) << c.name;
    }
    sub_clear();
}

TEST(Srt, NoCues) {
    const std::string cases[] = {
        "",
        "00:00:01,000 --> 00:00:02,000\n",
        "00:00:01,000 --> garbage\ntext\n",
        std::string(200, 'a') + "00:00:01,000 --> 00:00:02,000\ntext\n",
        "just text\n\nmore text\n",
    };
    for (const auto& text : cases) {
        EXPECT_EQ(run_parser(sub_parse_srt, text), 5) << text;
        EXPECT_STREQ(sub_last_error(), "no SRT cues");
        EXPECT_EQ(sub_cue_count(), 0);
    }
    sub_clear();
}

TEST(Srt, TimingLineLimits) {
    int32_t s = -9, e = -9;
    EXPECT_TRUE(cuekit::srt_try_tc(std::string(100, 'a') + "00:00:01,000 --> 1:2", s, e));
    EXPECT_EQ(s, 1000);
    EXPECT_EQ(e, 62000);
    // The end timestamp must lie within the first 255 bytes after the arrow.
    EXPECT_FALSE(cuekit::srt_try_tc("00:00:01,000 -->" + std::string(260, ' ') + "00:00:02,000", s, e));
    EXPECT_TRUE(cuekit::srt_try_tc("00:00:01,000 -->" + std::string(200, ' ') + "00:00:02,000", s, e));
    // Overflowing timestamps are no timestamps.
    EXPECT_FALSE(cuekit::srt_try_tc("999:00:00,000 --> 999:00:01,000", s, e));
}

// The usual timing line is read by a shortcut; it and its near misses must read as the
// general rules read them.
TEST(Srt, UsualTimingLineAndItsNearMisses) {
    const struct {
        const char* line;
        int32_t start, end; // -1: no timing line
    } cases[] = {
        {"01:02:03,456 --> 99:59:59.999", 3723456, 359999999},
        {"00:00:01,000 --> 00:00:02,0009 X:1", 1000, 2000},  // more fraction digits, settings
        {"00:00:01,5 --> 00:00:02,000", 1500, 2000},         // a short fraction
        {"00:00:01;000 --> 00:00:02,000", 1000, 2000},       // no fraction separator
        {"00:00:01,000 ->  00:00:02,000", 1000, 2000},       // another arrow
        {"00:00:01,000 --> 0a:00:02,000", 1000, -1},         // not a digit where one must be
        {"00:0x:01,000 --> 00:00:02,000", 0, 2000},          // the loose reading stops early
        {"00:00:01,000 --> 00:00:0", 1000, 0},
    };
    for (const auto& c : cases) {
        int32_t s = -9, e = -9;
        const bool found = cuekit::srt_try_tc(c.line, s, e);
        EXPECT_EQ(found, c.start >= 0 && c.end >= 0) << c.line;
        if (found) {
            EXPECT_EQ(s, c.start) << c.line;
            EXPECT_EQ(e, c.end) << c.line;
        }
    }
}

} // namespace
