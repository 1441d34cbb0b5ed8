// YouTube timed text: `text` elements, single-precision times, captions.
#include "core/core.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>

using namespace cuekit_test;

namespace {

int parse_yt(const std::string& text) {
    sub_clear();
    return sub_parse_ytxml(text.c_str());
}

std::string doc(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?><transcript>" + body + "</transcript>";
}

std::string el(const std::string& start, const std::string& dur, const std::string& text = "x") {
    return "<text start=\"" + start + "\" dur=\"" + dur + "\">" + text + "</text>";
}

struct TimeCase {
    const char* start;
    const char* dur;
    std::vector<Cue> want;
};

TEST(YtXml, SinglePrecisionTimes) {
    const TimeCase cases[] = {
        {"12.345", "2.5", {{12345, 14845, {"x"}}}},
        {"1.005", "1", {{1005, 2005, {"x"}}}},   // a double product would give 1004
        {"8.2", "1", {{8200, 9200, {"x"}}}},     // 8199 in double precision
        {"0", "8.2", {{0, 8200, {"x"}}}},
        {"1.001", "0.5", {{1001, 1501, {"x"}}}},
        {"7.884", "3.416", {{7884, 11299, {"x"}}}}, // the float sum rounds below 11.3
        {"5", "0.0004", {}},                        // end equals start
        {"5", "-1", {}},
        {"5", "0", {}},
        {"", "2", {{0, 2000, {"x"}}}},             // missing start reads as 0
        {"abc", "2", {{0, 2000, {"x"}}}},
        {"2", "", {}},
        {"-1.5", "2", {{-1500, 500, {"x"}}}},
        {"0x10", "1", {{16000, 17000, {"x"}}}},    // strtod reads hexadecimal too
    };
    for (const auto& c : cases) {
        const int rc = parse_yt(doc(el(c.start, c.dur)));
        EXPECT_EQ(rc, c.want.empty() ? 5 : 0) << c.start << " " << c.dur;
        EXPECT_EQ(cues(), c.want) << c.start << " " << c.dur;
    }
}

TEST(YtXml, TimesNeverOverflow) {
    const TimeCase cases[] = {
        {"nan", "2", {{0, 2000, {"x"}}}},            // NaN reads as 0
        {"2", "nan", {}},
        {"-1e30", "2e30", {{INT_MIN, INT_MAX, {"x"}}}},
        {"1e30", "1", {}},                           // both ends saturate to the same value
        {"1e39", "1", {}},                           // beyond the float range
        {"-1e39", "1e39", {{INT_MIN, 0, {"x"}}}},    // -inf + inf is NaN: end 0
        {"inf", "-inf", {}},
        {"2147483", "1", {{2147483008, INT_MAX, {"x"}}}},
    };
    for (const auto& c : cases) {
        parse_yt(doc(el(c.start, c.dur)));
        EXPECT_EQ(cues(), c.want) << c.start << " " << c.dur;
    }
}

struct DocCase {
    const char* name;
    std::string body;
    std::vector<Cue> want;
};

TEST(YtXml, Elements) {
    const DocCase cases[] = {
        {"entities and a line break element", el("1", "1", "it&#39;s<br/>fine &amp; dandy"), {{1000, 2000, {"it's", "fine & dandy"}}}},
        {"source line break separates lines", el("1", "1", " two \n\n words<BR>&#10;"), {{1000, 2000, {"two", "words"}}}},
        {"emoji references", el("1", "1", "&#x1F600;&#128512;"), {{1000, 2000, {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80"}}}},
        {"invalid references replaced", el("1", "1", "a&#0;b&#xD800;c"), {{1000, 2000, {"a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c"}}}},
        {"self-closing skipped, next read",
         "<text start=\"1\" dur=\"1\"/><text start=\"2\" dur=\"1\" /><text start=\"3\" dur=\"1\">x</text>",
         {{3000, 4000, {"x"}}}},
        {"tab or newline after the name", "<text\tstart=\"1\" dur=\"1\">a</text><text\nstart=\"2\" dur=\"1\">b</text>", {}},
        {"capitals", "<TEXT Start=\"1\" DUR=\"1\">a</TEXT>", {{1000, 2000, {"a"}}}},
        {"longer names", "<textarea start=\"1\" dur=\"1\">a</textarea><texts start=\"2\" dur=\"1\">b</texts>", {}},
        {"name then >", "<text>no times</text>" + el("1", "1"), {{1000, 2000, {"x"}}}},
        {"document order kept", el("9", "1", "late") + el("1", "1", "early"),
         {{9000, 10000, {"late"}}, {1000, 2000, {"early"}}}},
        {"empty and blank captions skipped", el("1", "1", "") + el("2", "1", " <i> </i> ") + el("3", "1", "c"),
         {{3000, 4000, {"c"}}}},
        {"single quotes", "<text start='1' dur='2'>a</text>", {{1000, 3000, {"a"}}}},
        {"caption runs to the first </text>", "<text start=\"1\" dur=\"1\">a<text start=\"2\" dur=\"1\">b</text>",
         {{1000, 2000, {"ab"}}}},
        {"unterminated element skipped", el("1", "1", "a") + "<text start=\"2\" dur=\"1\">b", {{1000, 2000, {"a"}}}},
        {"unfinished last tag", el("1", "1", "a") + "<text start=\"2\" dur=\"1\"", {{1000, 2000, {"a"}}}},
        {"comments, CDATA and instructions",
         "<!DOCTYPE t><!-- " + el("1", "1", "ghost") + " -->" + el("2", "1", "<![CDATA[a & b]]><?pi?><!-- </text> -->c"),
         {{2000, 3000, {"a & bc"}}}},
    };
    for (const auto& c : cases) {
        const int rc = parse_yt(doc(c.body));
        EXPECT_EQ(rc, c.want.empty() ? 5 : 0) << c.name;
        if (rc == 0) {
            EXPECT_EQ(sub_detected_format(), SUB_FORMAT_YTXML) << c.name;
        }
        EXPECT_EQ(cues(), c.want) << c.name;
    }
}

TEST(YtXml, FixedBuffersCut) {
    // The tag copy holds 511 bytes: an attribute beyond them is not seen.
    const std::string pad(600, ' ');
    EXPECT_EQ(parse_yt("<text start=\"1\"" + pad + "dur=\"2\">x</text>"), 5);
    EXPECT_EQ(parse_yt("<text start=\"1\" dur=\"2\"" + pad + ">x</text>"), 0);
    // A value holds 63 bytes.
    EXPECT_EQ(parse_yt(el(std::string(62, '0') + "15", "1")), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {"x"}}}));
}

TEST(YtXml, NothingFound) {
    const std::string cases[] = {"", "<transcript/>", "<d p=\"1\">x</d>", "<text start=\"1\" dur=\"1\">open"};
    for (const auto& c : cases) {
        EXPECT_EQ(parse_yt(c), 5) << c;
        EXPECT_STREQ(sub_last_error(), "no YouTube XML cues") << c;
        EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO) << c;
    }
}

TEST(YtXml, NeitherYouTubeNorBilibili) {
    const std::string text = doc("<p>nothing here</p>");
    EXPECT_EQ(parse(text, SUB_FORMAT_YTXML), 5);
    EXPECT_STREQ(sub_last_error(), "no Bilibili danmaku");
    EXPECT_EQ(sub_cue_count(), 0);
    sub_clear();
}

TEST(YtXml, UnterminatedElementsStayLinear) {
    std::string text;
    for (int i = 0; i < 60000; ++i) text += "<text start=\"1\" dur=\"1\">caption";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(parse_yt(text), 5);
    const auto secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(secs, 2.0);
    sub_clear();
}

} // namespace

TEST(YtXml, NewerForm) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<!-- srv3 -->\n<timedtext format=\"3\">\n<head>"
                             "<pen id=\"1\"/><wp id=\"0\"/></head><body>";
    const struct {
        const char* name;
        std::string text;
        std::vector<Cue> want; // none: "no YouTube XML cues"
    } cases[] = {
        {"segments join as written, line feeds and br separate lines",
         head + "<p t=\"1200\" d=\"2300\" w=\"1\"><s ac=\"0\">so</s><s t=\"400\"> we&#39;re</s><s t=\"900\"> here</s></p>"
                "<p t=\"3400\" d=\"80\" w=\"1\" a=\"1\">\n</p><p t=\"3500\" d=\"1000\">top\nbottom<br/>last</p></body></timedtext>",
         {{1200, 3500, {"so we're here"}}, {3500, 4500, {"top", "bottom", "last"}}}},
        {"text elements are not read in this form", head + "<text start=\"1\" dur=\"1\">x</text></body></timedtext>", {}},
        {"no duration, no cue", head + "<p t=\"100\">x</p><p t=\"200\" d=\"0\">y</p></body></timedtext>", {}},
        // In any other document a p is no caption.
        {"other root", "<timedtext format=\"2\"><p t=\"1\" d=\"2\">x</p></timedtext>", {}},
        {"root not first", "<transcript><timedtext format=\"3\"><p t=\"1\" d=\"2\">x</p></timedtext></transcript>", {}},
        {"comments, CDATA and instructions",
         head + "<!-- <p t=\"1\" d=\"2\">ghost</p> --><p t=\"5\" d=\"5\"><![CDATA[a<b]]><?pi?><!-- </p> --></p></body></timedtext>",
         {{5, 10, {"a<b"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int rc = parse_yt(c.text);
        EXPECT_EQ(rc, c.want.empty() ? 5 : 0) << sub_last_error();
        EXPECT_EQ(cues(), c.want);
    }
}
