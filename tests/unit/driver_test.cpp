// sub_parse: result codes, fallback order, second chances and state reset.
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace cuekit_test;

namespace {

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { sub_clear(); }
    void TearDown() override { sub_clear(); }
};

const std::string kSrt = "1\n00:00:01,000 --> 00:00:02,500\nHello\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n";

TEST_F(DriverTest, EmptyBufferWhateverTheArguments) {
    for (int fmt : {SUB_FORMAT_AUTO, SUB_FORMAT_SRT, 42}) {
        EXPECT_EQ(sub_parse(nullptr, 10, fmt, "utf-8"), 3);
        EXPECT_STREQ(sub_last_error(), "empty buffer");
        EXPECT_EQ(sub_parse("x", 0, fmt, nullptr), 3);
        EXPECT_STREQ(sub_last_error(), "empty buffer");
    }
}

TEST_F(DriverTest, UnknownFormatIdentifier) {
    for (int fmt : {42, SUB_FORMAT_UNKNOWN, SUB_FORMAT_COUNT}) {
        EXPECT_EQ(parse(kSrt, fmt), 1);
        EXPECT_STREQ(sub_last_error(), "");
        EXPECT_NE(g_sub.text, nullptr); // decoded before the identifier was looked at
    }
}

TEST_F(DriverTest, DecoderFailureIsPassedOn) {
    EXPECT_EQ(parse(kSrt, SUB_FORMAT_AUTO, "no-such-charset"), 2);
    EXPECT_STREQ(sub_last_error(), "iconv failed for encoding no-such-charset");
}

TEST_F(DriverTest, NamedAndDetectedFormats) {
    ASSERT_EQ(parse(kSrt, 0), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_SRT);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2500, {"Hello"}}, {3000, 4000, {"World"}}}));
    EXPECT_STREQ(sub_last_error(), "");
    ASSERT_EQ(parse(kSrt), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_SRT);
}

TEST_F(DriverTest, NamedFormatFailureKeepsParserMessage) {
    EXPECT_EQ(parse("no cues at all", SUB_FORMAT_SRT), 5);
    EXPECT_STREQ(sub_last_error(), "no SRT cues");
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO);
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
    EXPECT_EQ(sub_detected_format() == SUB_FORMAT_SRT || sub_detected_format() == SUB_FORMAT_VTT, true);
}

// Text that both formats of a row read, as UTF-16 with a byte-order mark so that detection
// cannot name it: the fallback order must give it to the first of the two. Each row's second
// format is the next row's first, so the rows pin the whole order; no format ahead of the
// first reads the row's text.
struct FallbackPair {
    int first;
    int second;
    std::string text;
};

std::string utf16le_with_bom(std::string_view ascii_or_utf8) {
    std::string out = "\xFF\xFE";
    for (size_t i = 0; i < ascii_or_utf8.size(); ++i) {
        if (ascii_or_utf8.substr(i, 3) == "\xE2\x80\xA8") { // U+2028, a line break to the line readers only
            out += "\x28\x20";
            i += 2;
            continue;
        }
        out.push_back(ascii_or_utf8[i]);
        out.push_back('\0');
    }
    return out;
}

TEST_F(DriverTest, FallbackOrderGivesEachAdjacentPairToTheEarlierFormat) {
    const std::string ls = "\xE2\x80\xA8";
    const std::string events = "[Events]\nFormat: Start, End, Text\nDialogue: 0:00:01.00,0:00:02.00,hi\n";
    const std::string info = "[INFORMATION]\n00:00:01.00,00:00:02.00\n";
    const std::string d = "<d p=\"1,1,25,16777215\">hi</d>\n";
    const std::string p = "<p begin=\"1s\" end=\"2s\">hello</p>\n";
    const std::string text = "<text start=\"1\" dur=\"1\">hi</text>\n";
    const std::vector<FallbackPair> rows{
        {SUB_FORMAT_VTT, SUB_FORMAT_ASS, events + "\n00:00:01.000 --> 00:00:02.000\nhello\n"},
        {SUB_FORMAT_ASS, SUB_FORMAT_SAMI, events + "<SYNC Start=1000><P>hello\n"},
        {SUB_FORMAT_SAMI, SUB_FORMAT_SUBVIEWER, info + "<SYNC Start=1000><P>hello\n"},
        {SUB_FORMAT_SUBVIEWER, SUB_FORMAT_BILIBILI, info + d},
        {SUB_FORMAT_BILIBILI, SUB_FORMAT_TTML, d + p},
        {SUB_FORMAT_TTML, SUB_FORMAT_YTXML, p + text},
        {SUB_FORMAT_YTXML, SUB_FORMAT_LRC, text + "[00:01.00]hello\n"},
        {SUB_FORMAT_LRC, SUB_FORMAT_MICRODVD, "[00:01.00]hello\n{25}{50}hi\n"},
        // JSON strings may hold U+2028, which the line-oriented parsers take for a line break.
        {SUB_FORMAT_MICRODVD, SUB_FORMAT_ACFUN, "{\"c\":\"1,16777215,1,25\",\"m\":\"a" + ls + "{25}{50}hi\"}"},
        {SUB_FORMAT_ACFUN, SUB_FORMAT_SRT,
         "{\"m\":\"x" + ls + "NOTE 00:00:01,000 --> 00:00:02,000" + ls + "hello\",\"c\":\"1,16777215,1,25\"}"},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const FallbackPair& row = rows[i];
        SCOPED_TRACE(sub_format_name(row.first));
        if (i + 1 < rows.size()) {
            EXPECT_EQ(row.second, rows[i + 1].first);
        }
        const std::string u16 = utf16le_with_bom(row.text);
        ASSERT_EQ(sub_detect_format(u16.data(), u16.size(), nullptr), SUB_FORMAT_AUTO);
        for (const int named : {row.first, row.second}) {
            ASSERT_EQ(parse(u16, named), SUB_OK) << sub_format_name(named) << ": " << sub_last_error();
            EXPECT_EQ(sub_detected_format(), named);
        }
        ASSERT_EQ(parse(u16), SUB_OK);
        EXPECT_EQ(sub_detected_format(), row.first);
    }
}

TEST_F(DriverTest, AllParsersFail) {
    EXPECT_EQ(parse("just some words, nothing timed"), 5);
    EXPECT_STREQ(sub_last_error(), "all parsers failed");
    EXPECT_EQ(sub_cue_count(), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO);
}

TEST_F(DriverTest, SecondParseStartsFromEmptyState) {
    ASSERT_EQ(parse(kSrt), 0);
    sub_warn("left over");
    EXPECT_EQ(sub_parse(nullptr, 0, SUB_FORMAT_AUTO, nullptr), 3);
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
