#include "test_util.hpp"

#include "text/text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using cuekit_test::Cue;
using cuekit_test::cues;
using cuekit_test::parse;

namespace {

constexpr int kSami = 8;

std::string doc(const std::string& body) {
    return "<SAMI>\n<HEAD><TITLE>t</TITLE></HEAD>\n<BODY>\n" + body + "</BODY>\n</SAMI>\n";
}

std::string repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

struct SamiCase {
    const char* name;
    std::string text;
    std::vector<Cue> expected;
};

TEST(Sami, Blocks) {
    const SamiCase cases[] = {
        {"two blocks",
         doc("<SYNC Start=1000><P Class=ENCC>Hello\n<SYNC Start=3000><P Class=ENCC>World\n"),
         {{1000, 3000, {"Hello"}}, {3000, 4000, {"World"}}}},
        {"empty block ends the previous one",
         doc("<SYNC Start=1000><P>Hello</P></SYNC>\n<SYNC Start=2500><P>&nbsp;</P></SYNC>\n"),
         {{1000, 2500, {"Hello"}}}},
        {"quoted value and lower case",
         "<sync start=\"1000\"><p>a\n<sync start='2000'><p>b",
         {{1000, 2000, {"a"}}, {2000, 3000, {"b"}}}},
        {"encrypted form", doc("<SYNC Encrypted=\"true\" Start=500><P>Secret\n"), {{500, 1500, {"Secret"}}}},
        {"unrecognised form stays in the previous block",
         doc("<SYNC Start=1000><P>one\n<SYNC  Start=2000><P>two\n"),
         {{1000, 2000, {"one", "<SYNC Start=2000><P>two"}}}},
        {"block without digits is dropped and ends nothing",
         doc("<SYNC Start=1000><P>one\n<SYNC Start=x><P>lost\n<SYNC Start=4000><P>two\n"),
         {{1000, 4000, {"one"}}, {4000, 5000, {"two"}}}},
        {"decreasing starts keep document order",
         doc("<SYNC Start=5000><P>late\n<SYNC Start=2000><P>early\n"),
         {{5000, 6000, {"late"}}, {2000, 3000, {"early"}}}},
        {"only 31 digits are read",
         doc("<SYNC Start=" + std::string(30, '0') + "1234><P>x\n"),
         {{1, 1001, {"x"}}}},
        {"start saturates", doc("<SYNC Start=99999999999999><P>x\n"), {{INT_MAX, INT_MAX, {"x"}}}},
        {"gap of one second saturates",
         doc("<SYNC Start=2147483000><P>a\n<SYNC Start=5><P>b\n"),
         {{2147483000, INT_MAX, {"a"}}, {5, 1005, {"b"}}}},
        {"tag without '>' runs to the end", "<SYNC Start=1000 x", {}},
        // A NUL hides everything after it from the tag search and from the block text.
        {"NUL",
         std::string("<SYNC Start=1000><P>Hello") + '\0' + "World<SYNC Start=2000><P>x",
         {{1000, 2000, {"Hello"}}}},
        {"comments hide tags and text",
         "<SAMI><HEAD><STYLE><!-- P {color: white} <SYNC Start=5> --></STYLE></HEAD><BODY>"
         "<SYNC Start=1000><P>a<!-- <SYNC Start=1500><P>ghost --> b\n<SYNC Start=2000><P>c<!-- <SYNC Start=9000>",
         {{1000, 2000, {"a b"}}, {2000, 3000, {"c"}}}},
    };
    for (const SamiCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int rc = parse(c.text, kSami);
        if (c.expected.empty()) {
            EXPECT_EQ(rc, 5);
            EXPECT_STREQ(sub_last_error(), "no SAMI cues");
            continue;
        }
        ASSERT_EQ(rc, 0) << sub_last_error();
        EXPECT_EQ(sub_detected_format(), kSami);
        EXPECT_EQ(cues(), c.expected);
    }
}

TEST(Sami, Cleaning) {
    struct Case {
        std::string block;
        std::vector<std::string> lines; // empty: the block makes no cue
    };
    const Case cases[] = {
        {"<P Class=ENCC>Line one<br>Line two", {"Line one", "Line two"}},
        {"<P>Line one<BR/>Line two<Br class=x >three", {"Line one", "Line two", "three"}},
        {"<P>Line one<br", {"Line one<br"}},
        {"<P><font color=\"#ffff00\">Hi</font></P>", {"<font color=\"#ffff00\">Hi</font>"}},
        {"  <font size=2><p class=x>Hi", {"Hi"}},
        {"<b>bold</b><p>x", {"<b>bold</b><p>x"}},
        {"x<p>y", {"y"}},
        {"<P>\n    first\n\n    second\n", {"first", "second"}},
        {"<P>a \t \r b\tc", {"a b c"}},
        {"<P>A &amp; B &lt;3 &#233;", {"A & B <3 \xC3\xA9"}},
        {"<P>x</BODY></SAMI></SYNC></P>", {"x"}},
        {"<P>x</</p>p>", {"x"}},
        {"<div class=a><P>x</div><div", {"<P>x<div"}},
        {"<P><div a<div b> c>y", {"c>y"}},
        {"<P><<div>div>y", {"y"}},
        {"<P>&nbsp;", {}},
        {"<P>x" + repeat("\tx", 299) + "<br>tail", {"x" + repeat(" x", 299), "tail"}}, // many stretches
        {"a>b<P>x", {"a>b<P>x"}},                      // a '>' before the first tag keeps it
        {"<P>&am</p>p; &#3</div>9;", {"& '"}},         // references joined by removals
        {"<P>a \t</sync>\t b", {"a b"}},             // blanks joined by a removal
        {"<P><font  a\t\tb>x", {"<font a b>x"}},     // blanks inside a kept tag
        {"<br><font>x<br>y<P>z", {"z"}},               // a break before the font tag
        {"<div><P>x", {"<P>x"}},                       // a div tag first: no paragraph removal
        {"<P>x &nbsp;&#9; y", {"x y"}},                // references that become blanks
        {"<P></P>", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        const int rc = parse("<SYNC Start=1000>" + std::string(c.block), kSami);
        if (c.lines.empty()) {
            EXPECT_EQ(rc, 5);
            EXPECT_STREQ(sub_last_error(), "no SAMI cues");
            continue;
        }
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(sub_cue_count(), 1);
        EXPECT_EQ(cues()[0].lines, c.lines);
    }
}

TEST(Sami, LastBlockReadingTime) {
    struct Case {
        std::string text;
        int duration;
    };
    const Case cases[] = {
        {"Hello", 1000},
        {std::string(30, 'a'), 2040},
        {std::string(200, 'a'), 10000},
        {"<font color=red>" + std::string(30, 'a') + "</font>", 2040},
        {std::string(15, 'a') + "\n" + std::string(14, 'b'), 2040},  // the line feed counts
        {std::string(30, 'a') + "<i" + std::string(100, 'b'), 2040}, // an unclosed tag ends the count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(parse("<SYNC Start=1000><P>" + c.text, kSami), 0);
        EXPECT_EQ(sub_cue_end_ms(0), 1000 + c.duration);
    }
}

TEST(Sami, Failures) {
    EXPECT_EQ(parse("<SAMI><BODY><P>no sync</P></BODY></SAMI>", kSami), 5);
    EXPECT_STREQ(sub_last_error(), "SAMI: no <SYNC");
    EXPECT_EQ(parse(std::string("<SAMI>") + '\0' + "<SYNC Start=1>x", kSami), 5);
    EXPECT_STREQ(sub_last_error(), "SAMI: no <SYNC");
    EXPECT_EQ(parse("<SAMI><SYNC Time=1000><P>x</SAMI>", kSami), 5);
    EXPECT_STREQ(sub_last_error(), "no SAMI cues");
}

// The cleaning steps written the slow way: every removal searches again from the start.
std::string literal_clean(std::string s) {
    auto find = [&](std::string_view pat) { return cuekit::ifind(s, pat); };
    constexpr size_t npos = std::string::npos;
    for (size_t p; (p = find("<br")) != npos;) {
        const size_t gt = s.find('>', p);
        if (gt == npos) break;
        s[p] = '\n';
        s.erase(p + 1, gt - p);
    }
    for (const std::string_view pat : {"</body>", "</sami>", "</sync>", "</p>"})
        for (size_t p; (p = find(pat)) != npos;)
            s.erase(p, pat.size());
    const size_t lt = s.find('<'), gt = s.find('>');
    if (lt != npos && gt != npos && lt < gt &&
        (cuekit::istarts_with(std::string_view(s).substr(lt), "<p") ||
         cuekit::istarts_with(std::string_view(s).substr(lt), "<font"))) {
        const size_t p = find("<p");
        if (p != npos && s.find('>', p) != npos) s.erase(0, s.find('>', p) + 1);
    }
    for (size_t p; (p = find("<div")) != npos;) {
        const size_t close = s.find('>', p);
        if (close == npos) break;
        s.erase(p, close - p + 1);
    }
    for (size_t p; (p = find("</div>")) != npos;)
        s.erase(p, 6);
    s.resize(cuekit::html_decode(s.data(), s.size()));
    std::string collapsed;
    bool in_run = false;
    for (const char c : s) {
        const bool blank = c == ' ' || c == '\t' || c == '\r';
        if (blank) {
            if (!in_run) collapsed += ' ';
            in_run = true;
        } else {
            collapsed += c;
            in_run = false;
        }
    }
    return std::string(cuekit::trim(collapsed));
}

// Random blocks of `pieces`, each after one of `leads`.
void check_random_blocks(const std::vector<std::string>& pieces, unsigned seed,
                         const std::vector<std::string>& leads = {""}) {
    std::mt19937 rng(seed);
    for (int round = 0; round < 5000; ++round) {
        std::string block = leads[rng() % leads.size()];
        const int n = static_cast<int>(rng() % 24);
        for (int i = 0; i < n; ++i)
            block += pieces[rng() % pieces.size()];
        SCOPED_TRACE("block: [" + block + "]");
        const std::string clean = literal_clean(block);
        // In a buffer of exactly its size, so that a read past the text fails under ASan.
        const std::string text = "<SYNC Start=1000>" + block;
        const std::unique_ptr<char[]> exact(new char[text.size()]);
        std::memcpy(exact.get(), text.data(), text.size());
        const int rc = parse(std::string_view(exact.get(), text.size()), kSami);
        if (clean.empty()) {
            ASSERT_EQ(rc, 5);
            continue;
        }
        ASSERT_EQ(rc, 0);
        std::vector<std::string> lines;
        size_t from = 0;
        for (;;) {
            const size_t lf = clean.find('\n', from);
            const std::string piece(cuekit::trim(
                std::string_view(clean).substr(from, lf == clean.npos ? clean.npos : lf - from)));
            if (!piece.empty()) lines.push_back(piece);
            if (lf == clean.npos) break;
            from = lf + 1;
        }
        ASSERT_EQ(cues()[0].lines, lines);
    }
}

TEST(Sami, CleaningMatchesRestartingRemovalOnRandomBlocks) {
    check_random_blocks({"<",   ">",   "/",    "p",     "P",      "<br>",    "<BR/>", "<br", "<div",    "</div>", "</",
                         "div", "<p>", "</p>", "<P ",   "<font>", "</body>", "bo",    "dy>", "</sami>", " ",      "\t",
                         "\r",  "\n",  "x",    "&amp;", "&",      "lt;",     "v",     "d",   "i",       "<font"},
                        7);
}

// Blocks whose every '<' is closed before the next one: references cut by a removed tag,
// blanks meeting across removals, stray '>' before the paragraph tag, views of the lines.
TEST(Sami, CleaningMatchesRestartingRemovalOnClosedTags) {
    check_random_blocks({"<P Class=x>", "<p>",  "<pre>", "<font color=a>", "</font>", "<br>", "<BR/>", "<bright>",
                         "</p>", "</P >", "</Sync>", "</body>", "</SAMI>", "<div a>", "<DIVx>", "</div>", "<i>",
                         "</i>", ">", " ", "  ", "\t", "\r", "\n", "x", "y z", "&am", "p;", "&#", "39", "x4",
                         ";", "&nbsp;", "&lt;", "&#9;", "<b\t\tc>"},
                        11);
}

// Blocks that open with a paragraph tag, then mostly plain text: the text as it stands, with
// references to decode, a blank to fold or a tag anywhere in it, or blanks only around it.
TEST(Sami, CleaningMatchesRestartingRemovalAfterParagraphTag) {
    check_random_blocks({"x", "Hello world", "y", " ", "  ", "\t", "\r", "\n", "\r\n", "&nbsp;", "&NBSP;", "&amp;",
                         "&#39;", "&#32;", "&", ">", "<br>", "<p>", "</p>", "<i>", "\xC3\xA9"},
                        13, {"<P Class=ENCC>", "<p>", "<pre>", "<P", "<P<", " <p>", "\r\n<P>", "<Px>"});
}

} // namespace
