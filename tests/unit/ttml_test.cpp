#include "test_util.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::parse;

namespace {

constexpr int kTtml = 5;

std::string doc(const std::string& body, const std::string& tt_attrs = "") {
    return "<?xml version=\"1.0\"?>\n<tt xmlns=\"http://www.w3.org/ns/ttml\"" + tt_attrs + ">\n<body>\n" +
           body + "\n</body>\n</tt>\n";
}

std::string para(const std::string& attrs, const std::string& text = "x") {
    return "<p " + attrs + ">" + text + "</p>\n";
}

std::vector<std::string> warnings() {
    std::vector<std::string> out;
    for (int i = 0; i < sub_warning_count(); ++i)
        out.emplace_back(sub_warning(i));
    return out;
}

struct TimingCase {
    const char* attrs;
    int start; // -1: no cue
    int end;
};

TEST(Ttml, ReadsClockAndOffsetTimes) {
    const TimingCase cases[] = {{R"(begin="00:00:01.000" end="00:00:02.500")", 1000, 2500},
                                {R"(begin="1.5s" dur="2s")", 1500, 3500},
                                {R"(begin="1.5" end="2")", 1500, 2000},
                                {R"(begin="1:30" end="100s")", 90000, 100000},
                                {R"(begin="10ms" end="1m")", 10, 60000},
                                {R"(begin="1h30m" end="2h")", 5400000, 7200000},
                                {R"(begin="1h30s" end="2h")", 3630000, 7200000},
                                {R"(begin="1m30" end="2m")", 60030, 120000},
                                {R"(begin="1m 30s" end="2m")", 90000, 120000},
                                // Unreadable or missing begin means 0.
                                {R"(end="2s")", 0, 2000},
                                {R"(begin="soon" end="2s")", 0, 2000},
                                {R"(begin="1h s" end="2s")", 0, 2000},
                                // An unreadable end falls back to dur, read as begin and end are.
                                {R"(begin="1s" end="2.5s " dur="1s")", 1000, 2000},
                                {R"(begin="1s" end="2.5s ")", -1, 0},
                                {R"(begin="1s" dur="00:00:02.500")", 1000, 3500},
                                {R"(begin="1s" end="2s" dur="10s")", 1000, 2000},
                                {R"(begin="2s" end="2s")", -1, 0},
                                {R"(begin="1s")", -1, 0},
                                // NaN, infinities and huge components stay defined: NaN is unreadable,
                                // the rest saturates.
                                {R"(begin="0" end="nans" dur="5s")", 0, 5000},
                                {R"(begin="0" end="infs")", 0, INT_MAX},
                                {R"(begin="0" end="1e300s")", 0, INT_MAX},
                                {R"(begin="0" end="1e300h1e300m1e300")", 0, INT_MAX},
                                {R"(begin="0" end="-1e300s" dur="5s")", 0, 5000},
                                {R"(begin="1e300s" dur="5s")", -1, 0},
                                {R"(begin="2000000s" dur="2000000s")", 2000000000, INT_MAX}};
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.attrs);
        const int rc = parse(doc(para(c.attrs)), kTtml);
        if (c.start < 0) {
            EXPECT_EQ(rc, 5);
            EXPECT_STREQ(sub_last_error(), "no TTML cues");
            EXPECT_EQ(sub_cue_count(), 0);
            continue;
        }
        ASSERT_EQ(rc, 0) << sub_last_error();
        EXPECT_EQ(cues(), (std::vector<Cue>{{c.start, c.end, {"x"}}}));
    }
}

TEST(Ttml, TickAndFrameParameters) {
    struct Case {
        const char* tt_attrs;
        const char* attrs;
        int start, end;
        const char* warning; // nullptr: none
    };
    const Case cases[] = {
        {R"( ttp:tickRate="10000000")", R"(begin="10000000t" end="20000000t")", 1000, 2000, nullptr},
        {"", R"(begin="10000t" end="20000t")", 1000, 2000, "ttml: ttp:tickRate missing, defaulting to 10000"},
        {R"( ttp:frameRate="30" ttp:frameRateMultiplier="1000 1001")", R"(begin="30f" end="60f")", 1001, 2002,
         nullptr},
        {"", R"(begin="25f" end="50f")", 1000, 2000, "ttml: ttp:frameRate missing, defaulting to 25"},
        {R"( ttp:frameRate="30" ttp:frameRateMultiplier="2")", R"(begin="60f" end="120f")", 1000, 2000,
         nullptr},
        // A zero denominator leaves the multiplier at 1.
        {R"( ttp:frameRate="30" ttp:frameRateMultiplier="2 0")", R"(begin="30f" end="60f")", 1000, 2000,
         nullptr},
        // The multiplier counts only next to a frame rate.
        {R"( ttp:frameRateMultiplier="2")", R"(begin="25f" end="50f")", 1000, 2000,
         "ttml: ttp:frameRate missing, defaulting to 25"},
        // A rate of 0 or no number makes the unit unreadable (begin falls back to 0).
        {R"( ttp:frameRate="0")", R"(begin="25f" end="2s")", 0, 2000, nullptr},
        {R"( ttp:tickRate="fast")", R"(begin="5t" end="2s")", 0, 2000, nullptr},
        {R"( ttp:frameRate="nan")", R"(begin="25f" end="2s")", 0, 2000, nullptr},
        // A zero product of rate and multiplier divides by zero: 0/0 is unreadable.
        {R"( ttp:frameRate="30" ttp:frameRateMultiplier="0")", R"(begin="0f" end="2s")", 0, 2000, nullptr},
        // Frames in a clock time count at the same effective rate; a sub-frame part is ignored.
        {R"( ttp:frameRate="24")", R"(begin="00:00:01:12" end="00:00:02:23.9")", 1500, 2958, nullptr},
        {R"( ttp:frameRate="30" ttp:frameRateMultiplier="1000 1001")", R"(begin="0:0:1:15" dur="00:00:01:00")",
         1500, 2500, nullptr},
        {"", R"(begin="00:00:01:12" end="00:00:02:00")", 1480, 2000, "ttml: ttp:frameRate missing, defaulting to 25"},
        {R"( ttp:frameRate="0")", R"(begin="00:00:01:12" end="2s")", 0, 2000, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tt_attrs) + " / " + c.attrs);
        ASSERT_EQ(parse(doc(para(c.attrs), c.tt_attrs), kTtml), 0);
        EXPECT_EQ(cues(), (std::vector<Cue>{{c.start, c.end, {"x"}}}));
        EXPECT_EQ(warnings(), c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
    }
}

TEST(Ttml, MissingRateWarnsOncePerParse) {
    const std::string text = doc(para(R"(begin="10000t" end="20000t")") + para(R"(begin="25f" end="50f")") +
                                 para(R"(begin="30000t" end="40000t")") + para(R"(begin="75f" end="100f")"));
    const std::vector<std::string> expected{"ttml: ttp:tickRate missing, defaulting to 10000",
                                            "ttml: ttp:frameRate missing, defaulting to 25"};
    for (int round = 0; round < 2; ++round) { // the flags do not carry over to the next parse
        ASSERT_EQ(parse(text, kTtml), 0);
        EXPECT_EQ(sub_cue_count(), 4);
        EXPECT_EQ(warnings(), expected);
    }
}

TEST(Ttml, ParametersOnLaterTagsHoldForTheRest) {
    const std::string body = para(R"(begin="30f" end="60f")", "a") + R"(<div ttp:frameRate="30">)" +
                             para(R"(begin="30f" end="60f")", "b") + "</div>" +
                             para(R"(begin="30f" end="60f")", "c");
    ASSERT_EQ(parse(doc(body), kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1200, 2400, {"a"}}, {1000, 2000, {"b"}}, {1000, 2000, {"c"}}}));
}

TEST(Ttml, DivisionOffsets) {
    struct Case {
        const char* name;
        std::string body;
        std::vector<Cue> expected;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"relative and absolute",
         R"(<div begin="10s">)" + para(R"(begin="1s" end="2s")", "a") +
             para(R"(begin="15s" end="16s")", "b") + "</div>",
         {{11000, 12000, {"a"}}, {15000, 16000, {"b"}}},
         {}},
        {"nested",
         R"(<div begin="10s"><div begin="5s">)" + para(R"(begin="1s" end="2s")") + "</div>" +
             para(R"(begin="1s" end="2s")") + "</div>" + para(R"(begin="1s" end="2s")"),
         {{16000, 17000, {"x"}}, {11000, 12000, {"x"}}, {1000, 2000, {"x"}}},
         {}},
        {"no begin on p", R"(<div begin="10s">)" + para(R"(end="2s")") + "</div>", {{10000, 12000, {"x"}}}, {}},
        {"clock begin and par",
         R"(<div begin="00:00:10.000" timeContainer="PAR">)" + para(R"(begin="1s" end="2s")") + "</div>",
         {{11000, 12000, {"x"}}},
         {}},
        {"seq adds to outer offsets",
         R"(<div begin="10s"><div timeContainer="seq" begin="5s">)" + para(R"(begin="1s" end="2s")") +
             "</div></div>",
         {{16000, 17000, {"x"}}},
         {}},
        {"seq without begin is silent",
         R"(<div timeContainer="seq">)" + para(R"(begin="1s" end="2s")") + "</div>",
         {{1000, 2000, {"x"}}},
         {}},
        {"unreadable div begin",
         R"(<div begin="later">)" + para(R"(begin="1s" end="2s")") + "</div>",
         {{1000, 2000, {"x"}}},
         {}},
        {"stray end tags", "</div></div>" + para(R"(begin="1s" end="2s")"), {{1000, 2000, {"x"}}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(parse(doc(c.body), kTtml), 0);
        EXPECT_EQ(cues(), c.expected);
        EXPECT_EQ(warnings(), c.warnings);
    }
}

TEST(Ttml, DeepDivisionsKeepEveryOffset) {
    std::string body;
    for (int i = 0; i < 8; ++i)
        body += R"(<div begin="1s">)";
    body += R"(<div begin="100s">)" + para(R"(begin="0.5s" end="0.6s")", "deep") + "</div>";
    body += para(R"(begin="0.5s" end="0.6s")", "eighth");
    body += "</div>" + para(R"(begin="0.5s" end="0.6s")", "seventh");
    for (int i = 0; i < 7; ++i)
        body += "</div>";
    body += para(R"(begin="0.5s" end="0.6s")", "outside");
    ASSERT_EQ(parse(doc(body), kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{108500, 108600, {"deep"}},
                                        {8500, 8600, {"eighth"}},
                                        {7500, 7600, {"seventh"}},
                                        {500, 600, {"outside"}}}));
}

TEST(Ttml, ParagraphText) {
    struct Case {
        const char* text;
        std::vector<std::string> lines; // none: no cue
    };
    // Tags go, br splits, whitespace collapses, entities are decoded, and a line feed an
    // entity brings splits again.
    const Case cases[] = {
        {"Hello", {"Hello"}},
        {"container<br/>fell", {"container", "fell"}},
        {"Line one<br/>\n      Line two", {"Line one", "Line two"}},
        {"a <tt:br></tt:br> b <BR /> <br xml:id=\"x\"/>c", {"a", "b", "c"}},
        {"one\n  long\r\n\tline", {"one long line"}},
        {"<span>no </span>  <span> gap</span>", {"no gap"}},
        {"kept&#32;&#32;spaces&#10; split ", {"kept  spaces", "split"}},
        {R"(<span tts:color="red">Red</span> &amp; &lt;b&gt;)", {"Red & <b>"}},
        {"   \n  ", {}},
        {"<span></span><br/>", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const int rc = parse(doc(para(R"(begin="1s" end="2s")", c.text)), kTtml);
        if (c.lines.empty()) {
            EXPECT_EQ(rc, 5);
            continue;
        }
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, c.lines}}));
    }
}

TEST(Ttml, TagRecognition) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<Cue> expected; // empty: "no TTML cues"
    };
    const Case cases[] = {
        {"capitals", doc(R"(<P BEGIN="1s" END="2s">Loud</P>)"), {{1000, 2000, {"Loud"}}}},
        {"prefixed names",
         R"(<tt:tt ttp:frameRate="24"><tt:body><tt:div begin="10s"><tt:p begin="1s" end="2s">x</tt:p>)"
         R"(<ebu:p begin="00:00:01:12" end="00:00:02:00">y<tt:br/>z</ebu:p></tt:div></tt:body></tt:tt>)",
         {{11000, 12000, {"x"}}, {11500, 12000, {"y", "z"}}}},
        {"longer names", doc(R"(<param begin="1s" end="2s">x</param><pre begin="1s" end="2s">y</pre>)"), {}},
        {"no paragraph", doc("<div begin=\"1s\"></div>"), {}},
        {"p at the very end", "<tt><p", {}},
        {"unclosed paragraph skipped", doc(R"(<p begin="1s" end="2s">lost)"), {}},
        {"tag without closing bracket ends the scan",
         "<tt>" + para(R"(begin="1s" end="2s")", "a") + R"(<p begin="3s" end="4s" b)",
         {{1000, 2000, {"a"}}}},
        {"divs inside a paragraph are skipped with it",
         doc(R"(<p begin="1s" end="2s">a<div begin="9s"></p>)" + para(R"(begin="3s" end="4s")")),
         {{1000, 2000, {"a"}}, {3000, 4000, {"x"}}}},
        {"tab, CR and LF end a name", doc("<p\tbegin=\"1s\"\r\nend=\"2s\">a</p>"), {{1000, 2000, {"a"}}}},
        // A self-closing paragraph is empty and leaves the next paragraph alone.
        {"self-closing p",
         doc(R"(<p begin="1s" end="2s"/><p begin="3s" end="4s">Next</p>)"
             "\n"
             R"(<p begin="5s" end="6s" />)"),
         {{3000, 4000, {"Next"}}}},
        {"NUL ends the text",
         std::string("<tt>") + para(R"(begin="1s" end="2s")", "a") + '\0' + para(R"(begin="3s" end="4s")"),
         {{1000, 2000, {"a"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int rc = parse(c.text, kTtml);
        if (c.expected.empty()) {
            EXPECT_EQ(rc, 5);
            EXPECT_STREQ(sub_last_error(), "no TTML cues");
            EXPECT_EQ(sub_detected_format(), SUB_FORMAT_AUTO);
            continue;
        }
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(sub_detected_format(), kTtml);
        EXPECT_EQ(cues(), c.expected);
    }
}

TEST(Ttml, AttributeValuesAreCut) {
    // Values keep 63 bytes: a long run of zeros pushes the unit letter out of reach.
    const std::string zeros(70, '0');
    ASSERT_EQ(parse(doc(para("begin=\"" + zeros + "1s\" end=\"2s\"")), kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{0, 2000, {"x"}}}));
    // The p start tag keeps 511 bytes: an attribute beyond is not seen.
    const std::string filler = "data-x=\"" + std::string(520, 'a') + "\" ";
    ASSERT_EQ(parse(doc(para("begin=\"1s\" " + filler + "end=\"2s\" dur=\"3s\"")), kTtml), 5);
}

// Many paragraphs and no div (or no "</p>" at all) must not make the scan search the rest of
// the document again for every element.
TEST(Ttml, ScanIsLinear) {
    std::string many;
    std::string unclosed;
    for (int i = 0; i < 60000; ++i) {
        many += R"(<p begin="1s" end="2s">line</p>)";
        unclosed += R"(<p begin="1s" end="2s">line <span>x</span>)";
    }
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(parse(doc(many), kTtml), 0);
    EXPECT_EQ(sub_cue_count(), 60000);
    EXPECT_EQ(parse(doc(unclosed), kTtml), 5);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

// Times on any level of the tree, each counted from its parent's begin.
TEST(Ttml, TimingModel) {
    struct Case {
        const char* name;
        std::string body;
        std::vector<Cue> expected;
    };
    const std::vector<Case> cases = {
        {"times on the div only", R"(<div begin="1s" end="3s"><p>a</p><p>b</p></div>)",
         {{1000, 3000, {"a"}}, {1000, 3000, {"b"}}}},
        {"dur without end", R"(<div begin="2s" dur="3s"><p>a</p></div>)", {{2000, 5000, {"a"}}}},
        {"no end anywhere", R"(<div begin="2s"><p>a</p></div>)", {}},
        {"times on spans only",
         R"(<p><span begin="1s" end="2s">a</span> <span begin="2s" end="3.5s">b</span></p>)",
         {{1000, 3500, {"a b"}}}},
        {"nested span times", R"(<p><span begin="1s"><span begin="1s" dur="1s">a</span></span></p>)",
         {{2000, 3000, {"a"}}}},
        {"span clamped to its paragraph's parent",
         R"(<div end="4s"><p><span begin="3s" end="9s">a</span></p></div>)", {{3000, 4000, {"a"}}}},
        {"spans all outside", R"(<div end="2s"><p><span begin="3s" end="4s">a</span></p></div>)", {}},
        {"nested offsets", R"(<div begin="1s"><div begin="2s"><p begin="1s" dur="1s">a</p></div></div>)",
         {{4000, 5000, {"a"}}}},
        {"paragraph clipped by its div", R"(<div end="2s"><p begin="1s" end="5s">a</p><p begin="3s" end="5s">b</p></div>)",
         {{1000, 2000, {"a"}}}},
        {"sequence", R"(<div timeContainer="seq"><p dur="1s">a</p><p dur="2s">b</p><p begin="1s" dur="1s">c</p></div>)",
         {{0, 1000, {"a"}}, {1000, 3000, {"b"}}, {4000, 5000, {"c"}}}},
        {"untimed paragraph in a sequence lasts no time",
         R"(<div timeContainer="seq" dur="9s"><p>a</p><p dur="1s">b</p></div>)", {{0, 1000, {"b"}}}},
        {"sequence moves on by a child's content",
         R"(<div timeContainer="seq"><div><p begin="1s" end="2s">a</p></div><p dur="1s">b</p></div>)",
         {{1000, 2000, {"a"}}, {2000, 3000, {"b"}}}},
        {"spans in sequence", R"(<div end="9s"><p timeContainer="seq"><span dur="1s">a</span><span dur="2s">b</span></p></div>)",
         {{0, 3000, {"ab"}}}},
        {"self-closing div still takes its time in a sequence",
         R"(<div timeContainer="seq"><div dur="5s"/><p dur="1s">a</p></div>)", {{5000, 6000, {"a"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int rc = parse(doc(c.body), kTtml);
        EXPECT_EQ(rc, c.expected.empty() ? 5 : 0);
        EXPECT_EQ(cues(), c.expected);
    }
    const std::string timed_body = R"(<tt><body begin="10s" dur="5s"><div><p begin="1s">a</p></div></body></tt>)";
    ASSERT_EQ(parse(timed_body, kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{11000, 15000, {"a"}}}));
}

// Comments, CDATA sections, processing instructions and a document type.
TEST(Ttml, XmlConstructs) {
    const std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE tt [ <!ENTITY e \"<p>\"> ]>\n<tt><body>"
                             R"(<!-- <p begin="1s" end="2s">ghost</p> -->)"
                             R"(<p begin="3s" end="4s"><![CDATA[x < y </p>]]> <?pi ?>z<!-- </p> --></p>)"
                             "</body></tt>";
    ASSERT_EQ(parse(text, kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{3000, 4000, {"x < y </p> z"}}}));
    EXPECT_EQ(parse(doc(R"(<p begin="1s" end="2s">a</p><!-- <p begin="3s" end="4s">b</p>)"), kTtml), 0);
    EXPECT_EQ(sub_cue_count(), 1);
}

TEST(Ttml, OnlyImagesFailAndNameThem) {
    const std::string text = doc(R"(<div begin="1s" end="2s" smpte:backgroundImage="#img1"/>)"
                                 R"(<div begin="2s" end="3s"><image src="two.png"/></div>)");
    EXPECT_EQ(parse(text, kTtml), 5);
    EXPECT_EQ(warnings(), (std::vector<std::string>{"ttml: 2 image(s) and no text; images are not read: #img1, two.png"}));
}

// Deep trees and long sequences: no recursion, one pass.
TEST(Ttml, DeepAndWideTrees) {
    std::string seq = R"(<div timeContainer="seq">)";
    for (int i = 0; i < 100000; ++i)
        seq += R"(<p dur="1ms">x</p>)";
    ASSERT_EQ(parse(doc(seq + "</div>"), kTtml), 0);
    EXPECT_EQ(sub_cue_count(), 100000);
    EXPECT_EQ(cues().back().start, 99999);
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += R"(<div begin="1ms"><span begin="1ms">)";
    ASSERT_EQ(parse(doc(deep + R"(<p end="1s">x</p>)"), kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{100000, 101000, {"x"}}}));
    // Many declarations, each read once; then a comment that never closes.
    std::string marks;
    for (int i = 0; i < 100000; ++i)
        marks += "<!x><?y?>";
    ASSERT_EQ(parse(doc(marks + R"(<p begin="1s" end="2s">x</p><!-- <p begin="3s" end="4s">y</p>)"), kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 2000, {"x"}}}));
    std::string spans = R"(<div end="200s"><p>)";
    for (int i = 0; i < 100000; ++i)
        spans += R"(<span begin="1ms">)";
    ASSERT_EQ(parse(doc(spans + "x</p></div>"), kTtml), 0);
    EXPECT_EQ(cues(), (std::vector<Cue>{{1, 200000, {"x"}}}));
}

} // namespace
