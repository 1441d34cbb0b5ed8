// The JSON result document.
#include "internal.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

class JsonTest : public ::testing::Test {
protected:
    void SetUp() override { sub_clear(); }
    void TearDown() override { sub_clear(); }
    std::string build() {
        EXPECT_EQ(sub_build_json(), 0);
        return sub_result_json();
    }
};

TEST_F(JsonTest, SubtitleCues) {
    g_sub.format = 0;
    int a = sub_cue_add(1000, 2500);
    sub_cue_add_line(a, "Hello");
    sub_cue_add_line(a, "World");
    sub_cue_add(-5, 0);
    EXPECT_EQ(build(), R"({"format":"srt","cues":[{"start":1000,"end":2500,"lines":["Hello","World"]},)"
                       R"({"start":-5,"end":0,"lines":[]}]})");
}

TEST_F(JsonTest, DanmakuCues) {
    g_sub.format = 9;
    int a = sub_cue_add(12340, 15340);
    g_sub.cues[a].is_danmu = 1;
    g_sub.cues[a].mode = 1;
    g_sub.cues[a].color = 16777215;
    sub_cue_add_line(a, "nice");
    int b = sub_cue_add(0, 3000);
    g_sub.cues[b].is_danmu = 1;
    g_sub.cues[b].mode = 4;
    g_sub.cues[b].color = 0;
    g_sub.cues[b].fontsize = 18.3f;
    EXPECT_EQ(build(), R"({"format":"bilibili","cues":[{"start":12340,"end":15340,"lines":["nice"],"danmu":true,)"
                       R"("mode":1,"color":16777215,"fontsize":25.0},{"start":0,"end":3000,"lines":[],"danmu":true,)"
                       R"("mode":4,"color":0,"fontsize":18.299999237060547}]})");
}

TEST_F(JsonTest, EscapesAndRawUnicode) {
    g_sub.format = 0;
    int a = sub_cue_add(0, 1);
    sub_cue_add_line(a, "say \"hi\" \\ \t/ \x01");
    sub_cue_add_line(a, "\xD0\x9F\xD1\x80\xD0\xB8 \xE4\xB8\xAD");
    EXPECT_EQ(build(), R"({"format":"srt","cues":[{"start":0,"end":1,"lines":["say \"hi\" \\ \t/ \u0001",)"
                       "\"\xD0\x9F\xD1\x80\xD0\xB8 \xE4\xB8\xAD\"]}]}");
}

TEST_F(JsonTest, IllFormedUtf8BecomesReplacementCharacters) {
    // Each maximal ill-formed subpart is one U+FFFD, as the Unicode standard recommends.
    const std::string R = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"a\xFF" "b", "a" + R + "b"},
        {"caf\xE9", "caf" + R},
        {"\xC0\x80", R + R},                     // overlong
        {"\xED\xA0\x80", R + R + R},             // surrogate
        {"\xF4\x90\x80\x80", R + R + R + R},     // beyond U+10FFFF
        {"\xE2\x82" "x", R + "x"},               // truncated sequence is one subpart
        {"\xF0\x9F\x98", R},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, // valid stays raw
        {"\x80\x80", R + R},
    };
    for (const auto& [in, want] : cases) {
        sub_clear();
        g_sub.format = 0;
        int a = sub_cue_add(0, 1);
        sub_cue_add_line(a, in.c_str());
        EXPECT_EQ(build(), R"({"format":"srt","cues":[{"start":0,"end":1,"lines":[")" + want + "\"]}]}") << in;
        EXPECT_EQ(std::string(sub_cue_line(0, 0)), in); // the accessors keep the bytes
    }
}

TEST_F(JsonTest, ParseOfLatin1AccentsStillGivesADocument) {
    const std::string srt = "00:00:01,000 --> 00:00:02,000\nCaf\xE9 cr\xE8me\n";
    ASSERT_EQ(cuekit_test::parse(srt), 0);
    EXPECT_EQ(std::string(sub_result_json()),
              "{\"format\":\"srt\",\"cues\":[{\"start\":1000,\"end\":2000,\"lines\":[\"Caf\xEF\xBF\xBD cr\xEF\xBF\xBDme\"]}]}");
}

TEST_F(JsonTest, NoDocumentAfterFailureOrClear) {
    ASSERT_EQ(cuekit_test::parse("00:00:01,000 --> 00:00:02,000\nx\n"), 0);
    EXPECT_NE(std::string(sub_result_json()), "{}");
    sub_clear();
    EXPECT_STREQ(sub_result_json(), "{}");
    EXPECT_EQ(cuekit_test::parse("nothing here"), 5);
    EXPECT_STREQ(sub_result_json(), "{}");
}

} // namespace
