// WebVTT: the SubRip block rules plus the keyword lines that never time a cue.
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::run_parser;

namespace {

using VttCase = cuekit_test::ParserCase;

class VttCues : public ::testing::TestWithParam<VttCase> {};

TEST_P(VttCues, ParsesAsExpected) {
    cuekit_test::check_parser_case(sub_parse_vtt, GetParam(), SUB_FORMAT_VTT, "no VTT cues");
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, VttCues,
    ::testing::Values(
        VttCase{"HeaderThenCue", "WEBVTT\n\n00:01.000 --> 00:04.000\nHello\n", {{1000, 4000, {"Hello"}}}},
        VttCase{"HeaderGluedToCue", "WEBVTT\n00:01.000 --> 00:04.000\nHello", {{1000, 4000, {"Hello"}}}},
        VttCase{"NoHeader", "00:01.000 --> 00:04.000\nHello", {{1000, 4000, {"Hello"}}}},
        VttCase{"LowerCaseHeader", "webvtt - title\n00:01.000 --> 00:04.000\nHello", {{1000, 4000, {"Hello"}}}},
        VttCase{"SettingsDropped", "WEBVTT\n\n00:00:01.000 --> 00:00:04.000 align:start position:10%\nHi",
                {{1000, 4000, {"Hi"}}}},
        VttCase{"IdentifierIgnored", "WEBVTT\n\nintro\n00:00:01.000 --> 00:00:02.000\nHi\n\n2\n00:03.000 --> 00:04.000\nB",
                {{1000, 2000, {"Hi"}}, {3000, 4000, {"B"}}}},
        VttCase{"CommaFraction", "00:00:01,500 --> 00:00:02,250\nx", {{1500, 2250, {"x"}}}},
        VttCase{"NoteStyleRegionBlocksSkipped",
                "WEBVTT\n\nNOTE a comment\nwith two lines\n\nSTYLE\n::cue { color: red }\n\n"
                "REGION\nid:fred width:40%\n\n00:01.000 --> 00:02.000\nText",
                {{1000, 2000, {"Text"}}}},
        // Only the keyword line itself is exempt: the next line of a NOTE block can time a cue.
        VttCase{"TimingInsideNoteBlock", "NOTE\n00:00:01.000 --> 00:00:02.000\nfrom a note",
                {{1000, 2000, {"from a note"}}}},
        VttCase{"KeywordPrefixNeverTimes", "REGIONAL 00:00:01.000 --> 00:00:02.000\nx", {}},
        VttCase{"KeywordLowerCaseNeverTimes", "note 00:00:01.000 --> 00:00:02.000\nx", {}},
        VttCase{"KeywordAfterTimingIsText", "00:01.000 --> 00:02.000\nNOTE this is said\nWEBVTT",
                {{1000, 2000, {"NOTE this is said", "WEBVTT"}}}},
        VttCase{"VoiceTagKept", "00:01.000 --> 00:02.000\n<v Anna>Hej &amp; hallo</v>",
                {{1000, 2000, {"<v Anna>Hej &amp; hallo</v>"}}}},
        // Only a line without any character ends a cue; one of blanks adds no line.
        VttCase{"LinesTrimmedAndSpaceLineStaysInCue", "00:01.000 --> 00:02.000\n\t a \n   \nb\n\nc", {{1000, 2000, {"a", "b"}}}},
        VttCase{"AutoCaptionSpaceFirstLine", "00:01.000 --> 00:02.000 align:start\n \nword\n\n00:02.000 --> 00:03.000\n \n",
                {{1000, 2000, {"word"}}}},
        VttCase{"TimingWithoutText", "WEBVTT\n\n00:01.000 --> 00:02.000\n\n00:03.000 --> 00:04.000\nZ",
                {{3000, 4000, {"Z"}}}},
        VttCase{"ReversedKept", "00:05.000 --> 00:01.000\nback", {{5000, 1000, {"back"}}}},
        VttCase{"CrLfAndSeparator", "WEBVTT\r\n\r\n00:01.000 --> 00:02.000\r\nA\xE2\x80\xA8" "B",
                {{1000, 2000, {"A", "B"}}}},
        VttCase{"OnlyHeader", "WEBVTT\n", {}},
        VttCase{"Empty", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Vtt, SubRipFileReadsAsWebVtt) {
    ASSERT_EQ(run_parser(sub_parse_vtt, "1\n00:00:01,000 --> 00:00:02,500\nHello\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n"), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2500, {"Hello"}}, {3000, 4000, {"World"}}}));
}

TEST(Vtt, DriverDetectsAndParses) {
    const std::string text = "\n\nWEBVTT\n\n00:00:01.000 --> 00:00:02.000\n\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\n";
    ASSERT_EQ(cuekit_test::parse(text), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_VTT);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"}}}));
    EXPECT_STREQ(sub_result_json(), "{\"format\":\"vtt\",\"cues\":[{\"start\":1000,\"end\":2000,\"lines\":[\"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\"]}]}");
}

} // namespace
