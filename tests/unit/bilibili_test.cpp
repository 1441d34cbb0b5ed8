// Bilibili danmaku: `d` elements, the `p` list and the comment text.
#include "danmaku_test_util.hpp"
#include "core/core.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>

using namespace cuekit_test;

namespace {

constexpr unsigned kWhite = 0xFFFFFF;

int parse_bili(const std::string& text) {
    sub_clear();
    return sub_parse_bilibili(text.c_str());
}

std::string doc(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatid>1</chatid>" + body + "</i>";
}

struct PCase {
    std::string p;
    Danmu want;
};

TEST(Bilibili, PList) {
    const std::string crossing = "5,2,30," + std::string(502, '0') + "12345"; // colour cut at byte 511
    const PCase cases[] = {
        {"12.5,4,18,255", {12500, 15500, 4, 255, 18.0f, {"x"}}},
        {"3.25", {3250, 6250, 1, kWhite, 25.0f, {"x"}}},
        {"7,,5,99", {7000, 10000, 5, kWhite, 99.0f, {"x"}}},           // empty field shifts
        {",,,2,3,,4,5,6", {2000, 5000, 3, 5, 4.0f, {"x"}}},
        {"", {0, 3000, 1, kWhite, 25.0f, {"x"}}},
        {",,,", {0, 3000, 1, kWhite, 25.0f, {"x"}}},
        {"-1.5,1", {-1500, 1500, 1, kWhite, 25.0f, {"x"}}},             // no clamping here
        {"1,1,25,16777216", {1000, 4000, 1, 0, 25.0f, {"x"}}},          // low 24 bits
        {"1,1,25,4294967295", {1000, 4000, 1, kWhite, 25.0f, {"x"}}},
        {"1,1,25,99999999999999999999", {1000, 4000, 1, kWhite, 25.0f, {"x"}}}, // saturates
        {"1,1,25,33554431", {1000, 4000, 1, kWhite, 25.0f, {"x"}}},
        {"1.0009,1", {1000, 4000, 1, kWhite, 25.0f, {"x"}}},           // truncated
        {"abc,x,y,z", {0, 3000, 0, 0, 0.0f, {"x"}}},                    // no number reads as 0
        {" 2 , 3 ,12.5 , 7", {2000, 5000, 3, 7, 12.5f, {"x"}}},
        {"1,99999999999", {1000, 4000, INT_MAX, kWhite, 25.0f, {"x"}}}, // mode saturates
        {"1,-7,0.5", {1000, 4000, -7, kWhite, 0.5f, {"x"}}},
        {crossing, {5000, 8000, 2, 12, 30.0f, {"x"}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(parse_bili(doc("<d p=\"" + c.p + "\">x</d>")), 0) << c.p;
        EXPECT_EQ(danmus(), std::vector<Danmu>{c.want}) << c.p;
    }
}

TEST(Bilibili, TimesNeverOverflow) {
    const PCase cases[] = {
        {"nan,1", {0, 3000, 1, kWhite, 25.0f, {"x"}}},
        {"-nan", {0, 3000, 1, kWhite, 25.0f, {"x"}}},
        {"inf", {INT_MAX, INT_MAX, 1, kWhite, 25.0f, {"x"}}},
        {"-infinity", {INT_MIN, INT_MIN + 3000, 1, kWhite, 25.0f, {"x"}}},
        {"1e300", {INT_MAX, INT_MAX, 1, kWhite, 25.0f, {"x"}}},
        {"-1e300", {INT_MIN, INT_MIN + 3000, 1, kWhite, 25.0f, {"x"}}},
        {"3000000", {INT_MAX, INT_MAX, 1, kWhite, 25.0f, {"x"}}},
        {"2147482", {2147482000, INT_MAX, 1, kWhite, 25.0f, {"x"}}},    // end saturates
    };
    for (const auto& c : cases) {
        ASSERT_EQ(parse_bili(doc("<d p=\"" + c.p + "\">x</d>")), 0) << c.p;
        EXPECT_EQ(danmus(), std::vector<Danmu>{c.want}) << c.p;
    }
}

TEST(Bilibili, FontSizeThatIsNoFiniteFloatKeepsDefault) {
    for (const char* size : {"nan", "inf", "-inf", "1e39", "-1e39", "1e400"}) {
        ASSERT_EQ(parse_bili(doc(std::string("<d p=\"1,1,") + size + ",255\">x</d>")), 0) << size;
        EXPECT_EQ(sub_cue_danmu_fontsize(0), 25.0f) << size;
        EXPECT_EQ(sub_cue_danmu_color(0), 255u) << size;
    }
    ASSERT_EQ(parse_bili(doc("<d p=\"1,1,3e38\">x</d>")), 0);
    EXPECT_EQ(sub_cue_danmu_fontsize(0), 3e38f);
}

struct DocCase {
    const char* name;
    std::string body;
    std::vector<Danmu> want;
};

TEST(Bilibili, Elements) {
    const DocCase cases[] = {
        {"markup and entities", "<d p=\"1\">Tom &amp; <b>Jerry</b></d>", {{1000, 4000, 1, kWhite, 25.0f, {"Tom & Jerry"}}}},
        {"empty text kept", "<d p=\"1\"></d><d p=\"2\">  \n </d>",
         {{1000, 4000, 1, kWhite, 25.0f, {""}}, {2000, 5000, 1, kWhite, 25.0f, {""}}}},
        {"emoji references", "<d p=\"1\">&#x1F600; &#127881;</d>",
         {{1000, 4000, 1, kWhite, 25.0f, {"\xF0\x9F\x98\x80 \xF0\x9F\x8E\x89"}}}},
        {"single-quoted p", "<d p='4,5'>a</d>", {{4000, 7000, 5, kWhite, 25.0f, {"a"}}}},
        {"other attributes", "<d id=\"9\" p=\"4\" user=\"u\">a</d>", {{4000, 7000, 1, kWhite, 25.0f, {"a"}}}},
        {"document order kept", "<d p=\"9\">late</d><d p=\"1\">early</d><d p=\"1\">same</d>",
         {{9000, 12000, 1, kWhite, 25.0f, {"late"}},
          {1000, 4000, 1, kWhite, 25.0f, {"early"}},
          {1000, 4000, 1, kWhite, 25.0f, {"same"}}}},
        {"line break separates lines", "<d p=\"1\">a \n b&#10;c&#13;&#10;</d>", {{1000, 4000, 1, kWhite, 25.0f, {"a", "b", "c"}}}},
        {"only line breaks", "<d p=\"1\">&#10;</d>", {{1000, 4000, 1, kWhite, 25.0f, {""}}}},
        {"tab, newline or capital D is no element",
         "<d\tp=\"1\">a</d><d\np=\"2\">b</d><D p=\"3\">c</D><d p=\"4\">d</d>", {{4000, 7000, 1, kWhite, 25.0f, {"d"}}}},
        {"no p: skipped", "<d x=\"1\">a</d><d p=\"2\">b</d>", {{2000, 5000, 1, kWhite, 25.0f, {"b"}}}},
        {"P in capitals is found", "<d P=\"2\">b</d>", {{2000, 5000, 1, kWhite, 25.0f, {"b"}}}},
        {"text runs to the first </d>", "<d p=\"1\">a<d p=\"2\">b</d>", {{1000, 4000, 1, kWhite, 25.0f, {"ab"}}}},
        {"unfinished last tag", "<d p=\"1\">a</d><d p=\"2\"", {{1000, 4000, 1, kWhite, 25.0f, {"a"}}}},
        {"unterminated element skipped", "<d p=\"1\">a</d><d p=\"2\">b", {{1000, 4000, 1, kWhite, 25.0f, {"a"}}}},
        {"</D> does not close", "<d p=\"1\">a</D></d>", {{1000, 4000, 1, kWhite, 25.0f, {"a"}}}},
        {"commented-out comment", "<!-- <d p=\"1\">ghost</d> --><d p=\"2\">b<!-- </d> --></d>",
         {{2000, 5000, 1, kWhite, 25.0f, {"b"}}}},
        {"CDATA is text", "<d p=\"1\"><![CDATA[x < y & </d>]]></d>", {{1000, 4000, 1, kWhite, 25.0f, {"x < y & </d>"}}}},
        {"processing instruction and declaration", "<?pi <d p=\"9\">?><!DOCTYPE i><d p=\"1\">a<?pi?></d>",
         {{1000, 4000, 1, kWhite, 25.0f, {"a"}}}},
        {"comment never closes", "<d p=\"1\">a</d><!-- <d p=\"2\">b</d>", {{1000, 4000, 1, kWhite, 25.0f, {"a"}}}},
        {"CDATA inside an attribute", "<d p=\"1<![CDATA[\">a</d><d p=\"2\">b</d>",
         {{1000, 4000, 1, kWhite, 25.0f, {"a"}}, {2000, 5000, 1, kWhite, 25.0f, {"b"}}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(parse_bili(doc(c.body)), 0) << c.name;
        EXPECT_EQ(sub_detected_format(), SUB_FORMAT_BILIBILI) << c.name;
        EXPECT_EQ(danmus(), c.want) << c.name;
    }
}

TEST(Bilibili, TagIsCutAt1023Bytes) {
    const std::string pad(1100, 'z');
    ASSERT_EQ(parse_bili("<d x=\"" + pad + "\" p=\"2\">a</d>"), 5);
    ASSERT_EQ(parse_bili("<d p=\"2\" x=\"" + pad + "\">a</d>"), 0);
    EXPECT_EQ(sub_cue_start_ms(0), 2000);
}

TEST(Bilibili, StartTagWithoutGreaterThanEndsTheScan) {
    ASSERT_EQ(parse_bili("<d p=\"1\">a</d><d p=\"2\" <d p=\"3\""), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4000, {"a"}}}));
}

TEST(Bilibili, NothingFound) {
    const std::string cases[] = {"", "<i></i>", "<d p=\"1\">never closed", "<d>no p</d>", "<text start=\"1\">x</text>"};
    for (const auto& c : cases) {
        EXPECT_EQ(parse_bili(c), 5) << c;
        EXPECT_STREQ(sub_last_error(), "no Bilibili danmaku") << c;
        EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO) << c;
    }
}

TEST(Bilibili, StopsAtNul) {
    const std::string text("<d p=\"1\">a</d>\0<d p=\"2\">b</d>", 29);
    ASSERT_EQ(sub_parse(text.data(), text.size(), SUB_FORMAT_BILIBILI, nullptr), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4000, {"a"}}}));
}

TEST(Bilibili, DeclaredAsYouTubeGetsSecondChance) {
    const std::string text = doc("<d p=\"2.5,1,25,255\">hi</d>");
    ASSERT_EQ(parse(text, SUB_FORMAT_YTXML), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_BILIBILI);
    EXPECT_STREQ(sub_last_error(), "no YouTube XML cues");
    EXPECT_EQ(danmus(), (std::vector<Danmu>{{2500, 5500, 1, 255, 25.0f, {"hi"}}}));
    ASSERT_EQ(parse(text, SUB_FORMAT_AUTO), 0); // detected from content
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_BILIBILI);
    sub_clear();
}

TEST(Bilibili, UnterminatedElementsStayLinear) {
    // Every element lacks its "</d>": each must not search the rest of the text again.
    std::string text;
    for (int i = 0; i < 60000; ++i) text += "<d p=\"1,1,25,255\">comment";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(parse_bili(text), 5);
    const auto secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(secs, 2.0);

    std::string many;
    for (int i = 0; i < 100000; ++i) many += "<d p=\"1\">ok</d>";
    ASSERT_EQ(parse_bili(many), 0);
    EXPECT_EQ(sub_cue_count(), 100000);
    sub_clear();
}

} // namespace
