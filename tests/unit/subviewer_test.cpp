// SubViewer: header, first-cue window, strict timing lines, the LF join and the [br] split;
// and the driver's second chance from MicroDVD.
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::run_parser;

namespace {

const std::string kHead = "[INFORMATION]\n[TITLE]Test\n[END INFORMATION]\n";

using SvCase = cuekit_test::ParserCase;

class SvCues : public ::testing::TestWithParam<SvCase> {};

TEST_P(SvCues, ParsesAsExpected) {
    cuekit_test::check_parser_case(sub_parse_subviewer, GetParam(), SUB_FORMAT_SUBVIEWER, "no SubViewer cues");
}

INSTANTIATE_TEST_SUITE_P(
    Cues, SvCues,
    ::testing::Values(
        SvCase{"TwoCues", kHead + "00:00:01.00,00:00:04.00\nHello[br]World\n\n00:00:05.00,00:00:06.50\nBye\n",
               {{1000, 4000, {"Hello", "World"}}, {5000, 6500, {"Bye"}}}},
        SvCase{"LowerCaseHeader", "[information]\n00:00:01.00,00:00:02.00\nx", {{1000, 2000, {"x"}}}},
        SvCase{"TrailingTextAfterStamps", kHead + "00:00:01.00,00:00:02.00 whatever\nx", {{1000, 2000, {"x"}}}},
        SvCase{"ThreeFractionDigitsAtEnd", kHead + "00:00:01.00,00:00:02.500\nx", {{1000, 2500, {"x"}}}},
        SvCase{"ZeroLengthAndReversedDropped",
               kHead + "00:00:02.00,00:00:02.00\na\n00:00:03.00,00:00:02.00\nb\n00:00:04.00,00:00:05.00\nc",
               {{4000, 5000, {"c"}}}},
        SvCase{"TimingThenTimingDropsFirst", kHead + "00:00:01.00,00:00:02.00\n00:00:03.00,00:00:04.00\nx",
               {{3000, 4000, {"x"}}}},
        SvCase{"TimingAsLastLine", kHead + "00:00:01.00,00:00:02.00\nx\n00:00:03.00,00:00:04.00", {{1000, 2000, {"x"}}}},
        SvCase{"EmptyLinesJoinWithLf", kHead + "00:00:01.00,00:00:02.00\nHello\n\n\nWorld", {{1000, 2000, {"Hello", "World"}}}},
        SvCase{"BreakAtLineEndTrimsLf", kHead + "00:00:01.00,00:00:02.00\nHello[br]\nWorld", {{1000, 2000, {"Hello", "World"}}}},
        SvCase{"UpperBreakAndEmptyPieces", kHead + "00:00:01.00,00:00:02.00\n[BR] a [br][BR] b [br]", {{1000, 2000, {"a", "b"}}}},
        SvCase{"MixedCaseMarkersStay", kHead + "00:00:01.00,00:00:02.00\na[Br]b[bR]c[br", {{1000, 2000, {"a[Br]b[bR]c[br"}}}},
        SvCase{"BracketBeforeMarker", kHead + "00:00:01.00,00:00:02.00\na[[br]b", {{1000, 2000, {"a[", "b"}}}},
        SvCase{"SpacesOnlyGivesEmptyCue", kHead + "00:00:01.00,00:00:02.00\n   ", {{1000, 2000, {}}}},
        SvCase{"TrailerJoinsLastCue", kHead + "00:00:01.00,00:00:02.00\nx\n[END]", {{1000, 2000, {"x", "[END]"}}}},
        SvCase{"WindowNoLongerAppliesLater",
               kHead + "00:00:01.00,00:00:02.00\na\n" + std::string(30, '\n') + "00:00:03.00,00:00:04.00\nb",
               {{1000, 2000, {"a"}}, {3000, 4000, {"b"}}}},
        SvCase{"NoTextAnywhere", kHead + "00:00:01.00,00:00:02.00\n\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SvFailure {
    const char* name;
    std::string text;
    const char* error;
};
void PrintTo(const SvFailure& c, std::ostream* os) { *os << c.name; }

class SvErrors : public ::testing::TestWithParam<SvFailure> {};

TEST_P(SvErrors, ReportsTheReason) {
    EXPECT_EQ(run_parser(sub_parse_subviewer, GetParam().text), 5);
    EXPECT_STREQ(sub_last_error(), GetParam().error);
    EXPECT_EQ(sub_cue_count(), 0);
}

// The first timing line may be any of the 20 lines after the header.
std::string window_text(int blank_lines) {
    return "[INFORMATION]\n" + std::string(static_cast<size_t>(blank_lines), '\n') + "00:00:01.00,00:00:02.00\nx";
}

INSTANTIATE_TEST_SUITE_P(
    Header, SvErrors,
    ::testing::Values(
        SvFailure{"HeaderWithTrailingSpace", "[INFORMATION] \n00:00:01.00,00:00:02.00\nx", "SubViewer: missing [INFORMATION]"},
        SvFailure{"EmptyFirstLine", "\n[INFORMATION]\n00:00:01.00,00:00:02.00\nx", "SubViewer: missing [INFORMATION]"},
        SvFailure{"HeaderOnly", "[INFORMATION]", "SubViewer: no timestamp"},
        SvFailure{"TimingOnLine22", window_text(20), "SubViewer: no timestamp"},
        SvFailure{"OneDigitHours", "[INFORMATION]\n0:00:01.00,0:00:02.00\nx", "SubViewer: no timestamp"},
        SvFailure{"CommaFractions", "[INFORMATION]\n00:00:01,00,00:00:02,00\nx", "SubViewer: no timestamp"},
        SvFailure{"OneStampOnly", "[INFORMATION]\n00:00:01.00\nx", "SubViewer: no timestamp"},
        SvFailure{"IndentedTiming", "[INFORMATION]\n 00:00:01.00,00:00:02.00\nx", "SubViewer: no timestamp"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SubViewer, TimingOnLine21IsFound) {
    ASSERT_EQ(run_parser(sub_parse_subviewer, window_text(19)), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {"x"}}}));
}

TEST(SubViewer, JoinLimit) {
    // The joined text keeps its first 65535 bytes; the LF between lines counts.
    const std::string a(65530, 'a');
    ASSERT_EQ(run_parser(sub_parse_subviewer, kHead + "00:00:01.00,00:00:02.00\n" + a + "\nbbbbbbbbbb\ncc"), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {a, "bbbb"}}}));
}

TEST(SubViewer, ManyMarkersStayLinear) {
    // Both marker forms are found in one pass: looking for "[BR]" again after every "[br]"
    // would rescan the rest of each cue thousands of times.
    std::string cue_text = "x";
    for (int i = 0; i < 16000; ++i) cue_text += "[br]";
    cue_text += "y\n";
    std::string text = kHead;
    for (int i = 0; i < 200; ++i) text += "00:00:01.00,00:00:02.00\n" + cue_text;
    ASSERT_EQ(run_parser(sub_parse_subviewer, text), 0);
    ASSERT_EQ(sub_cue_count(), 200);
    EXPECT_EQ(cues().back(), (Cue{1000, 2000, {"x", "y"}}));
}

// A SubViewer file handed over as MicroDVD (as a .sub name makes the tool do) is parsed by
// the second chance, and the error text of the first attempt stays.
TEST(SubViewer, SecondChanceAfterMicroDvd) {
    const std::string text = kHead + "00:00:01.00,00:00:02.00\nHallo[br]Welt\n";
    ASSERT_EQ(cuekit_test::parse(text, SUB_FORMAT_MICRODVD), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_SUBVIEWER);
    EXPECT_STREQ(sub_last_error(), "no MicroDVD cues");
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {"Hallo", "Welt"}}}));
    EXPECT_STREQ(sub_result_json(), "{\"format\":\"subviewer\",\"cues\":[{\"start\":1000,\"end\":2000,\"lines\":[\"Hallo\",\"Welt\"]}]}");
}

TEST(SubViewer, SecondChanceFromUtf16) {
    // Content detection cannot read UTF-16, so only the format named by the caller leads here.
    const std::string ascii = kHead + "00:00:01.00,00:00:02.00\nHi\n";
    std::string utf16 = "\xFF\xFE";
    for (const char c : ascii) {
        utf16 += c;
        utf16 += '\0';
    }
    EXPECT_EQ(sub_detect_format(utf16.data(), utf16.size(), "movie.sub"), SUB_FORMAT_MICRODVD);
    ASSERT_EQ(cuekit_test::parse(utf16, SUB_FORMAT_MICRODVD), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_SUBVIEWER);
    EXPECT_STREQ(sub_last_error(), "no MicroDVD cues");
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {"Hi"}}}));
}

TEST(SubViewer, SecondChanceFailureKeepsItsOwnError) {
    ASSERT_EQ(cuekit_test::parse("nothing here\n", SUB_FORMAT_MICRODVD), 5);
    EXPECT_STREQ(sub_last_error(), "SubViewer: missing [INFORMATION]");
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO);
}

} // namespace
