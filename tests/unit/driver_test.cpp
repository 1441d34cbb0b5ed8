// sub_parse: result codes, fallback order, second chances and state reset.
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace cuekit_test;

namespace {

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { sub_clear(); }
    void TearDown() override { sub_clear(); }
};

const std::string kSrt = "1\n00:00:01,000 --> 00:00:02,500\nHello\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n";

TEST_F(DriverTest, EmptyBufferWhateverTheArguments) {
    for (int fmt : {-1, 0, 42}) {
        EXPECT_EQ(sub_parse(nullptr, 10, fmt, "utf-8"), 3);
        EXPECT_STREQ(sub_last_error(), "empty buffer");
        EXPECT_EQ(sub_parse("x", 0, fmt, nullptr), 3);
        EXPECT_STREQ(sub_last_error(), "empty buffer");
    }
}

TEST_F(DriverTest, UnknownFormatIdentifier) {
    for (int fmt : {42, -2, 11}) {
        EXPECT_EQ(parse(kSrt, fmt), 1);
        EXPECT_STREQ(sub_last_error(), "");
        EXPECT_NE(g_sub.text, nullptr); // decoded before the identifier was looked at
    }
}

TEST_F(DriverTest, DecoderFailureIsPassedOn) {
    EXPECT_EQ(parse(kSrt, -1, "no-such-charset"), 2);
    EXPECT_STREQ(sub_last_error(), "iconv failed for encoding no-such-charset");
}

TEST_F(DriverTest, NamedAndDetectedFormats) {
    ASSERT_EQ(parse(kSrt, 0), 0);
    EXPECT_EQ(sub_detected_format(), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2500, {"Hello"}}, {3000, 4000, {"World"}}}));
    EXPECT_STREQ(sub_last_error(), "");
    ASSERT_EQ(parse(kSrt), 0);
    EXPECT_EQ(sub_detected_format(), 0);
}

TEST_F(DriverTest, NamedFormatFailureKeepsParserMessage) {
    EXPECT_EQ(parse("no cues at all", 0), 5);
    EXPECT_STREQ(sub_last_error(), "no SRT cues");
    EXPECT_EQ(sub_detected_format(), -1);
    EXPECT_STREQ(sub_result_json(), "{}");
}

TEST_F(DriverTest, FallbackOrderOnUndetectedText) {
    // UTF-16 text is invisible to detection; the decoded text goes through the fallback order.
    std::string u16 = "\xFF\xFE";
    for (char c : kSrt) {
        u16.push_back(c);
        u16.push_back('\0');
    }
    ASSERT_EQ(parse(u16), 0);
    EXPECT_EQ(cues().size(), 2u);
    EXPECT_EQ(sub_detected_format() == 0 || sub_detected_format() == 1, true);
}

TEST_F(DriverTest, AllParsersFail) {
    EXPECT_EQ(parse("just some words, nothing timed"), 5);
    EXPECT_STREQ(sub_last_error(), "all parsers failed");
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_detected_format(), -1);
}

TEST_F(DriverTest, SecondParseStartsFromEmptyState) {
    ASSERT_EQ(parse(kSrt), 0);
    sub_warn("left over");
    EXPECT_EQ(sub_parse(nullptr, 0, -1, nullptr), 3);
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_warning_count(), 0);
    EXPECT_STREQ(sub_result_json(), "{}");
    EXPECT_EQ(g_sub.text, nullptr);
}

TEST_F(DriverTest, WarningsOfTheDecoderSurvive) {
    std::string latin1 = "00:00:01,000 --> 00:00:02,000\n";
    for (int i = 0; i < 8; ++i) latin1 += "caf\xE9 ";
    latin1 += "\n";
    ASSERT_EQ(parse(latin1), 0);
    ASSERT_EQ(sub_warning_count(), 1);
    EXPECT_STREQ(sub_warning(0), "encoding: auto-detected as CP1252 (invalid UTF-8)");
    EXPECT_EQ(std::string(sub_cue_line(0, 0)).substr(0, 5), "caf\xC3\xA9");
}

} // namespace
