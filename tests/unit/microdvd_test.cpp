// MicroDVD: cue-line shapes, the rate announcement, frame conversion and the text rules.
#include "text/text.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::run_parser;

namespace {

using MdvdCase = cuekit_test::ParserCase;

class MdvdCues : public ::testing::TestWithParam<MdvdCase> {};

TEST_P(MdvdCues, ParsesAsExpected) {
    cuekit_test::check_parser_case(sub_parse_microdvd, GetParam(), SUB_FORMAT_MICRODVD, "no MicroDVD cues");
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MdvdCues,
    ::testing::Values(
        MdvdCase{"DefaultRate", "{0}{25}Hello|World", {{0, 1000, {"Hello", "World"}}}},
        MdvdCase{"SquareBrackets", "[10][20]Hi", {{400, 800, {"Hi"}}}},
        MdvdCase{"MixedPairs", "{10}[20]Hi\n[10]{20}Ho", {{400, 800, {"Hi"}}, {400, 800, {"Ho"}}}},
        MdvdCase{"MismatchedBracket", "{10]{20}Hi\n{10}{20]Hi", {}},
        MdvdCase{"NegativeFrame", "{-10}{20}Hi", {{-400, 800, {"Hi"}}}},
        MdvdCase{"SignWithoutDigits", "{-}{20}Hi\n{}{20}Hi\n{+1}{20}Hi", {}},
        MdvdCase{"TrimmedBeforeBrace", "  \t{10}{20}  Hi  ", {{400, 800, {"  Hi"}}}},
        MdvdCase{"TextBeforeBrace", "x{10}{20}Hi", {}},
        MdvdCase{"NoTextStillCue", "{10}{20}\n{10}{20}{y:i}", {{400, 800, {}}, {400, 800, {}}}},
        MdvdCase{"EndBeforeStartKept", "{50}{25}x", {{2000, 1000, {"x"}}}},
        MdvdCase{"Empty", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rate, MdvdCues,
    ::testing::Values(
        MdvdCase{"Announced", "{1}{1}23.976\n{100}{150}Hi", {{4170, 6256, {"Hi"}}}},
        MdvdCase{"AnnouncedIntegral", "{1}{1}25\n{25}{50}X", {{1000, 2000, {"X"}}}},
        // Single precision: in double these would truncate to 40331 and 41332.
        MdvdCase{"SinglePrecision", "{1}{1}23.976\n{967}{991}x", {{40332, 41333, {"x"}}}},
        MdvdCase{"OnlyFirstCueLine", "{0}{25}a\n{1}{1}29.97\n{25}{50}b",
                 {{0, 1000, {"a"}}, {40, 40, {"29.97"}}, {1000, 2000, {"b"}}}},
        MdvdCase{"IgnoredLinesKeepItOpen", "title line\n\n{1}{1}50\n{50}{100}x", {{1000, 2000, {"x"}}}},
        MdvdCase{"UpperBoundExcluded", "{1}{1}120\n{25}{50}x", {{40, 40, {"120"}}, {1000, 2000, {"x"}}}},
        MdvdCase{"LowerBoundExcluded", "{1}{1}1\n{25}{50}x", {{40, 40, {"1"}}, {1000, 2000, {"x"}}}},
        MdvdCase{"FollowedBySpace", "{1}{1}2 Fast\n{10}{20}x", {{5000, 10000, {"x"}}}},
        MdvdCase{"FollowedByBrace", "{1}{1}30{c:$0000FF}\n{30}{60}x", {{1000, 2000, {"x"}}}},
        MdvdCase{"LeadingSpaceSkipped", "{1}{1} 50\n{50}{100}x", {{1000, 2000, {"x"}}}},
        MdvdCase{"ExponentForm", "{1}{1}5e1\n{50}{100}x", {{1000, 2000, {"x"}}}},
        MdvdCase{"FollowedByLetter", "{1}{1}24fps\n{25}{50}x", {{40, 40, {"24fps"}}, {1000, 2000, {"x"}}}},
        MdvdCase{"NotANumber", "{1}{1}nan\n{25}{50}x", {{40, 40, {"nan"}}, {1000, 2000, {"x"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Text, MdvdCues,
    ::testing::Values(
        MdvdCase{"CodeAtStart", "{10}{20}{y:i}Hello", {{400, 800, {"Hello"}}}},
        MdvdCase{"CodeInsideJoins", "{10}{20}Hel{Y:b}lo", {{400, 800, {"Hello"}}}},
        MdvdCase{"CodeOf32BytesRemoved", "{10}{20}a{" + std::string(30, 'c') + "}b", {{400, 800, {"ab"}}}},
        MdvdCase{"CodeOf33BytesStays", "{10}{20}a{" + std::string(31, 'c') + "}b",
                 {{400, 800, {"a{" + std::string(31, 'c') + "}b"}}}},
        MdvdCase{"UnclosedBraceStays", "{10}{20}{" + std::string(40, 'q'), {{400, 800, {"{" + std::string(40, 'q')}}}},
        MdvdCase{"NestedOpenTakesNextClose", "{10}{20}x{a{b}y}", {{400, 800, {"xy}"}}}},
        MdvdCase{"CodeAcrossBar", "{10}{20}a{b|c}d", {{400, 800, {"ad"}}}},
        MdvdCase{"EmptyPiecesDropped", "{10}{20}||A||B|", {{400, 800, {"A", "B"}}}},
        MdvdCase{"SpacesAroundBarKept", "{10}{20}A | B", {{400, 800, {"A ", " B"}}}},
        MdvdCase{"NonAscii", "{10}{20}Привет|{y:i}世界", {{400, 800, {"Привет", "世界"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Frame numbers and times that do not fit int32 saturate instead of overflowing.
INSTANTIATE_TEST_SUITE_P(
    Saturation, MdvdCues,
    ::testing::Values(
        MdvdCase{"FrameDigitsOverflow", "{99999999999999999999}{0}x", {{INT32_MAX, 0, {"x"}}}},
        MdvdCase{"NegativeFrameDigitsOverflow", "{-99999999999999999999}{0}x", {{INT32_MIN, 0, {"x"}}}},
        MdvdCase{"TimeOverflow", "{100000000}{-100000000}x", {{INT32_MAX, INT32_MIN, {"x"}}}},
        MdvdCase{"SlowRate", "{1}{1}1.0001\n{2147483647}{0}x", {{INT32_MAX, 0, {"x"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The frame-to-time conversion ends in this routine, which must be defined for every input.
TEST(MicroDvd, FloatToIntConversionIsTotal) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(cuekit::saturate_i32(std::nan("")), 0);
    EXPECT_EQ(cuekit::saturate_i32(static_cast<double>(std::numeric_limits<float>::quiet_NaN())), 0);
    EXPECT_EQ(cuekit::saturate_i32(kInf), INT32_MAX);
    EXPECT_EQ(cuekit::saturate_i32(-kInf), INT32_MIN);
    EXPECT_EQ(cuekit::saturate_i32(3e9), INT32_MAX);
    EXPECT_EQ(cuekit::saturate_i32(-3e9), INT32_MIN);
    EXPECT_EQ(cuekit::saturate_i32(2147483647.9), INT32_MAX);
    EXPECT_EQ(cuekit::saturate_i32(-2147483648.9), INT32_MIN);
    EXPECT_EQ(cuekit::saturate_i32(-1.9), -1);
    EXPECT_EQ(cuekit::saturate_i32(4170.99), 4170);
}

TEST(MicroDvd, TextLineLimit) {
    const std::string full(65535, 'a');
    ASSERT_EQ(run_parser(sub_parse_microdvd, "{0}{25}" + full), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{0, 1000, {full}}}));

    // Once the line holds 65535 bytes, whatever follows is dropped, further lines included.
    ASSERT_EQ(run_parser(sub_parse_microdvd, "{0}{25}" + full + "b|next"), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{0, 1000, {full}}}));
    ASSERT_EQ(run_parser(sub_parse_microdvd, "{0}{25}" + full + "|next"), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{0, 1000, {full}}}));

    // Removed codes do not count.
    ASSERT_EQ(run_parser(sub_parse_microdvd, "{0}{25}" + std::string(65530, 'a') + "{y:i}" + std::string(10, 'b')), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{0, 1000, {std::string(65530, 'a') + std::string(5, 'b')}}}));
}

TEST(MicroDvd, UnclosedBracesStayLinear) {
    // Every "{" looks only a bounded distance ahead for its "}"; a search through the rest of
    // the line would make this quadratic.
    constexpr int kPieces = 300000;
    std::string text = "{0}{25}";
    for (int i = 0; i < kPieces; ++i) text += "{a|";
    ASSERT_EQ(run_parser(sub_parse_microdvd, text), 0);
    ASSERT_EQ(sub_cue_line_count(0), kPieces);
    EXPECT_STREQ(sub_cue_line(0, kPieces - 1), "{a");
}

TEST(MicroDvd, DetectedThroughTheDriver) {
    ASSERT_EQ(cuekit_test::parse("{1}{1}23.976\n{100}{150}Hi\n"), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_MICRODVD);
    EXPECT_EQ(cues(), (std::vector<Cue>{{4170, 6256, {"Hi"}}}));
}

} // namespace
