// ASS/SSA: the events section, the Format layout, the field split and the hard breaks.
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::run_parser;

namespace {

const std::string kHead = "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

std::string dialogue(const std::string& text, const std::string& start = "0:00:01.00",
                     const std::string& end = "0:00:04.50") {
    return "Dialogue: 0," + start + "," + end + ",Default,,0,0,0,," + text + "\n";
}

using AssCase = cuekit_test::ParserCase;

class AssEvents : public ::testing::TestWithParam<AssCase> {};

TEST_P(AssEvents, ParsesAsExpected) {
    cuekit_test::check_parser_case(sub_parse_ass, GetParam(), SUB_FORMAT_ASS, "no ASS cues");
}

INSTANTIATE_TEST_SUITE_P(
    Events, AssEvents,
    ::testing::Values(
        AssCase{"HardBreakUpper", kHead + dialogue("Hello\\NWorld"), {{1000, 4500, {"Hello", "World"}}}},
        AssCase{"HardBreakLower", kHead + dialogue("a\\nb"), {{1000, 4500, {"a", "b"}}}},
        AssCase{"OtherEscapesStay", kHead + dialogue("{\\i1}a\\hb\\"), {{1000, 4500, {"{\\i1}a\\hb\\"}}}},
        AssCase{"EscapedBackslashBeforeN", kHead + dialogue("a\\\\Nb"), {{1000, 4500, {"a\\", "b"}}}},
        AssCase{"CommasInText", kHead + dialogue("Hello, world, again"), {{1000, 4500, {"Hello, world, again"}}}},
        AssCase{"NoEmptyLines", kHead + dialogue("\\NHello\\N\\NWorld\\N"), {{1000, 4500, {"Hello", "World"}}}},
        AssCase{"OnlyBreakKeepsEmptyCue", kHead + dialogue("\\N"), {{1000, 4500, {}}}},
        AssCase{"EmptyTextNoCue", kHead + dialogue(""), {}},
        AssCase{"SpacesInsideTextKept", kHead + dialogue(" Hello \\N World  "), {{1000, 4500, {" Hello ", " World"}}}},
        AssCase{"CommentSkipped", kHead + "Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x\n", {}},
        AssCase{"NoPrefixStillDialogue", kHead + "0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x\n", {{1000, 2000, {"x"}}}},
        AssCase{"PrefixAnyCaseAndSpaces", kHead + "DIALOGUE:    0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x\n",
                {{1000, 2000, {"x"}}}},
        AssCase{"ZeroLengthAndReversedSkipped",
                kHead + dialogue("same", "0:00:02.00", "0:00:02.00") + dialogue("rev", "0:00:03.00", "0:00:02.00") +
                    dialogue("ok", "0:00:02.00", "0:00:03.00"),
                {{2000, 3000, {"ok"}}}},
        AssCase{"TimeForms",
                kHead + dialogue("a", "0:00:01", " 1:02:03.4 ") + dialogue("b", "1:02", "0:00:09.00") +
                    dialogue("c", "0:00:01.5009", "0:00:02.25"),
                {{1000, 3723400, {"a"}}, {1500, 2250, {"c"}}}},
        AssCase{"TooFewFields", kHead + "Dialogue: 0,0:00:01.00,0:00:02.00,Default\n", {}},
        AssCase{"NextSectionEndsEvents", kHead + dialogue("in") + "[Fonts]\n" + dialogue("out"), {{1000, 4500, {"in"}}}},
        AssCase{"BlankLinesSkipped", kHead + "\n  \n" + dialogue("x"), {{1000, 4500, {"x"}}}},
        AssCase{"SsaMarkedLayout",
                "[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                "Dialogue: Marked=0,0:00:01.00,0:00:02.00,*Default,,0000,0000,0000,,Hi\n",
                {{1000, 2000, {"Hi"}}}},
        AssCase{"ShortLayoutNoPrefix", "[events]\nstart,END,text\n0:00:01.00,0:00:02.00,a,b\n", {{1000, 2000, {"a,b"}}}},
        AssCase{"LastDuplicateNameCounts", "[Events]\nFormat: Text, Start, End, Text\nx,0:00:01.00,0:00:02.00,t\n",
                {{1000, 2000, {"t"}}}},
        // The Text column before Start and End can read no line at all.
        AssCase{"TextBeforeTimes", "[Events]\nFormat: Text, Start, End\nDialogue: a,0:00:01.00,0:00:02.00\n", {}},
        AssCase{"TextColumnBeyond64", "[Events]\nFormat: Start, End" + std::string(62, ',') + ", Text\n" +
                                           "0:00:01.00,0:00:02.00" + std::string(62, ',') + ",t\n",
                {}},
        AssCase{"TextColumn63", "[Events]\nFormat: Start, End" + std::string(61, ',') + ", Text\n" +
                                    "0:00:01.00,0:00:02.00" + std::string(61, ',') + ",t\n",
                {{1000, 2000, {"t"}}}},
        AssCase{"NameOf63BytesMatches", "[Events]\nFormat: Start, End," + std::string(59, ' ') + "Text\n0:00:01.00,0:00:02.00,t\n",
                {{1000, 2000, {"t"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct AssFailure {
    const char* name;
    std::string text;
    const char* error;
};
void PrintTo(const AssFailure& c, std::ostream* os) { *os << c.name; }

class AssHeaderErrors : public ::testing::TestWithParam<AssFailure> {};

TEST_P(AssHeaderErrors, ReportsTheReason) {
    EXPECT_EQ(run_parser(sub_parse_ass, GetParam().text), 5);
    EXPECT_STREQ(sub_last_error(), GetParam().error);
    EXPECT_EQ(sub_cue_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Header, AssHeaderErrors,
    ::testing::Values(
        AssFailure{"NoSection", "[Script Info]\nTitle: x\n", "ASS: no [Events] section"},
        AssFailure{"SectionWithTrailingSpace", "[Events] \nFormat: Start, End, Text\n", "ASS: no [Events] section"},
        AssFailure{"SectionIsLastLine", "[Script Info]\n[Events]", "ASS: missing Format line"},
        AssFailure{"SectionThenTerminatorOnly", "[Events]\n", "ASS: Format missing Start/End/Text"},
        AssFailure{"BlankLineBeforeFormat", "[Events]\n\nFormat: Start, End, Text\n", "ASS: Format missing Start/End/Text"},
        AssFailure{"FormatOnlyPrefix", "[Events]\nFormat:   \n", "ASS: Format missing Start/End/Text"},
        // The name is cut to 63 bytes before it is trimmed, so the padded Text no longer reads.
        AssFailure{"NameCutAt63Bytes", "[Events]\nFormat: Start, End," + std::string(60, ' ') + "Text\n",
                   "ASS: Format missing Start/End/Text"},
        AssFailure{"FormatLacksEnd", "[Events]\nFormat: Layer, Start, Style, Text\n", "ASS: Format missing Start/End/Text"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Ass, TextLineLimit) {
    // A line of exactly 65535 bytes at the end is whole; a longer one is cut there and ends the cue.
    const std::string exact(65535, 'a');
    ASSERT_EQ(run_parser(sub_parse_ass, kHead + dialogue("x\\N" + exact)), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4500, {"x", exact}}}));

    ASSERT_EQ(run_parser(sub_parse_ass, kHead + dialogue(exact + "b\\Nnext")), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4500, {exact}}}));

    ASSERT_EQ(run_parser(sub_parse_ass, kHead + dialogue(exact + "\\Nnext")), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4500, {exact}}}));
}

// Commas and breaks are found many bytes a step: each may fall on either side of a step's edge,
// and a line may end anywhere in a step, with the text's end or more commas and breaks after it.
TEST(Ass, FieldsAndBreaksAtEveryOffset) {
    for (const std::string& tail : {std::string(), "\nComment: " + std::string(40, ',') + "\\N\\N" + std::string(40, ',')}) {
        for (size_t name = 0; name <= 70; ++name) {
            for (size_t left = 0; left <= 70; left += 1 + left / 8) {
                const std::string a(left, 'a'), n(name, 'n');
                ASSERT_EQ(run_parser(sub_parse_ass, kHead + "Dialogue: 0,0:00:01.00,0:00:04.50,Default," + n + ",0,0,0,," +
                                                        a + "\\N\\" + a + "\\n" + tail),
                          0);
                std::vector<std::string> lines;
                if (left) lines = {a, "\\" + a};
                else lines = {"\\"};
                EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4500, lines}})) << name << " " << left;
                // One comma short of the text column: no cue, however long the fields.
                EXPECT_EQ(run_parser(sub_parse_ass, kHead + "Dialogue: 0,0:00:01.00,0:00:04.50,Default," + n + ",0,0,0" + a + tail),
                          5);
            }
        }
    }
}

TEST(Ass, DetectedThroughTheDriver) {
    const std::string text = "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nStyle: Default,Arial,20\n\n" + kHead +
                             dialogue("Grüße\\N世界");
    ASSERT_EQ(cuekit_test::parse(text), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_ASS);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4500, {"Grüße", "世界"}}}));
}

} // namespace
