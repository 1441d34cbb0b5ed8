// Attribute values out of one start tag, and the plain text of a markup range.
#include "core/core.hpp"
#include "formats/formats.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using cuekit::xml_get_attr;

namespace {

struct AttrCase {
    const char* tag;
    const char* name;
    size_t max;
    bool found;
    std::string want;
};

TEST(Markup, GetAttr) {
    const std::string long_value(100, 'v');
    const std::string long_tag = "<p x=\"" + long_value + "\">";
    const AttrCase cases[] = {
        {"<p begin='1.5s' end=\"2s\">", "begin", 64, true, "1.5s"}, // single quotes: second attempt
        {"<p begin='1.5s' end=\"2s\">", "end", 64, true, "2s"},
        {"<p begin='1.5s' end=\"2s\">", "dur", 64, false, ""},
        {"<P BEGIN=\"3s\">", "begin", 64, true, "3s"},               // case-insensitive
        {"<p begin = \"3s\">", "begin", 64, false, ""},              // no space allowed around =
        {"<p begin =\"3s\">", "begin", 64, false, ""},
        {"<p begin= \"3s\">", "begin", 64, false, ""},
        {"<p begin=3s>", "begin", 64, false, ""},                    // unquoted
        {"<p begin=\"\">", "begin", 64, true, ""},
        {"<p a='1' xa=\"2\">", "a", 64, true, "2"},                  // double quotes anywhere win,
        {"<p xbegin=\"9\" begin=\"1\">", "begin", 64, true, "9"},    // and a suffix match counts
        {"<p begin=\"1s>", "begin", 64, true, "1s>"},                // unclosed: rest of the tag
        {"<p begin='it\"s'>", "begin", 64, true, "it\"s"},           // the other quote is data
        {"<p v=\"a&amp;b\">", "v", 64, true, "a&amp;b"},             // entities stay encoded
        {"<tt ttp:tickRate=\"10000000\">", "ttp:tickRate", 64, true, "10000000"},
        {long_tag.c_str(), "x", 63, true, long_value.substr(0, 63)},
        {long_tag.c_str(), "x", 511, true, long_value},
        {"", "x", 64, false, ""},
    };
    for (const auto& c : cases) {
        const auto v = xml_get_attr(c.tag, c.name, c.max);
        EXPECT_EQ(v.found, c.found) << c.tag << " " << c.name;
        EXPECT_EQ(std::string(v.value), c.want) << c.tag << " " << c.name;
    }
}

TEST(Markup, TagAttributesFindWhatGetAttrFinds) {
    std::mt19937 rng(3);
    static const std::string_view pieces[] = {"<p", " ", "begin", "BEGIN", "xbegin", "dur", "end", "=", "\"", "'",
                                              "1.5s", "a=\"b\"", "=\"", "=="};
    static const std::string_view names[] = {"begin", "end", "dur", "", "x"};
    for (int round = 0; round < 20000; ++round) {
        std::string tag;
        const unsigned n = rng() % (round % 10 == 0 ? 60 : 16); // some with more '=' than are indexed
        for (unsigned i = 0; i < n; ++i) tag += pieces[rng() % std::size(pieces)];
        const cuekit::TagAttributes attrs(tag);
        for (const std::string_view name : names) {
            const cuekit::AttrValue want = xml_get_attr(tag, name, 3);
            const cuekit::AttrValue got = attrs.get(name, 3);
            ASSERT_EQ(got.found, want.found) << tag << " " << name;
            ASSERT_EQ(got.value, want.value) << tag << " " << name;
            ASSERT_EQ(got.value.data(), want.value.data()) << tag << " " << name;
        }
    }
}

TEST(Markup, GetAttrNameIsCutLikeItsPatternBuffer) {
    // The pattern holds at most 61 bytes of the name.
    const std::string name(70, 'n');
    const std::string tag = "<p " + name.substr(0, 61) + "=\"ok\">";
    const auto v = xml_get_attr(tag, name, 64);
    EXPECT_TRUE(v.found);
    EXPECT_EQ(v.value, "ok");
}

struct TextCase {
    const char* name;
    std::string range;
    std::string want;
};

TEST(Markup, TextDecode) {
    const TextCase cases[] = {
        {"line break element joins", "Hello<br/>World", "HelloWorld"},
        {"decoded then trimmed", " a &amp; b ", "a & b"},
        {"stray > dropped", "x > y", "x  y"},
        {"tags removed, source breaks kept", "one<span style=\"s\" id='x'>two</span>\nthree", "onetwo\nthree"},
        {"empty", "", ""},
        {"only a tag", "<br/>", ""},
        {"unclosed < swallows the rest", "ab<cd ef", "ab"},
        {"escaped tag survives as text", "&lt;i&gt;x&lt;/i&gt;", "<i>x</i>"},
        {"entity split by a tag", "&am<b>p;", "&"},             // tags go first
        {"trim after decoding", "&#32;x&#9;", "x"},
        {"no-break entity is a space and trimmed", "&nbsp;x&nbsp;", "x"},
        {"emoji references", "<b>&#x1F600;</b>&#127881;", "\xF0\x9F\x98\x80\xF0\x9F\x8E\x89"},
        {"nul ends the text", std::string("ab\0cd", 5), "ab"},
    };
    std::string buf;
    for (const auto& c : cases) EXPECT_EQ(cuekit::xml_text_decode(c.range, buf), c.want) << c.name;
}

TEST(Markup, TextDecodeCutsAt65535CopiedBytes) {
    std::string buf;
    // The cut counts copied bytes only: tags do not use up the budget.
    const std::string many_tags = std::string(1000, 'x') + std::string(30000, '<') + ">" + std::string(70000, 'y');
    const auto t = cuekit::xml_text_decode(many_tags, buf);
    EXPECT_EQ(t.size(), cuekit::kTextMax);
    EXPECT_EQ(t.substr(995, 10), "xxxxxyyyyy");

    // The cut comes before trimming and before decoding.
    const std::string spaced = "  " + std::string(70000, 'a');
    EXPECT_EQ(cuekit::xml_text_decode(spaced, buf).size(), cuekit::kTextMax - 2);
    const std::string whole_entity = std::string(65530, 'a') + "&amp;zz";
    EXPECT_EQ(cuekit::xml_text_decode(whole_entity, buf), std::string(65530, 'a') + "&");
    const std::string cut_entity = std::string(65532, 'a') + "&amp;";
    EXPECT_EQ(cuekit::xml_text_decode(cut_entity, buf), std::string(65532, 'a') + "&am");
}

TEST(Markup, TextDecodeReusesItsBuffer) {
    std::string buf;
    EXPECT_EQ(cuekit::xml_text_decode("a much longer first text", buf), "a much longer first text");
    EXPECT_EQ(cuekit::xml_text_decode("<i>ok</i>", buf), "ok");
    const auto cap = buf.capacity();
    for (int i = 0; i < 100; ++i) cuekit::xml_text_decode("again", buf);
    EXPECT_EQ(buf.capacity(), cap);
}

// The character data of a range as the byte-by-byte rules have it: the reference for the run
// copying decoder.
std::string reference_decode(std::string_view range, cuekit::TextRules rules) {
    std::string out;
    size_t i = 0;
    while (i < range.size() && out.size() < cuekit::kTextMax) {
        const char c = range[i++];
        if (c == '<') {
            const size_t gt = range.find('>', i);
            if (gt == std::string_view::npos) break;
            std::string_view name = range.substr(i, gt - i);
            name = name.substr(0, std::min(name.find_first_of(" \t\r\n/"), name.size()));
            if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
            if (rules.br_breaks && cuekit::ieq(name, "br")) out += '\n';
            i = gt + 1;
        } else if (rules.collapse_space && cuekit::is_space(static_cast<unsigned char>(c))) {
            if (out.empty() || out.back() != ' ') out += ' ';
        } else if (c != '>') {
            out += c;
        }
    }
    out.resize(cuekit::html_decode(out.data(), out.size()));
    return std::string(cuekit::trim(out));
}

TEST(Markup, TextDecodeSameAsTheByteRulesOnRandomText) {
    std::mt19937 rng(7);
    static const std::string_view pieces[] = {"<",  ">", "&", "&amp;", "&#39;", " ", "  ", "\t", "\n", "\r\n", "a",
                                              "word", "<br/>", "<BR>", "<tt:br />", "<span>", "</span>", std::string_view("\0", 1)};
    std::string buf;
    cuekit::MarkupText markup;
    int views = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const unsigned n = rng() % 24;
        for (unsigned i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
        if (round % 1000 == 0) text = std::string(cuekit::kTextMax - 3, 'x') + text; // crosses the cut
        for (const bool br : {false, true})
            for (const bool collapse : {false, true}) {
                const cuekit::TextRules rules{.br_breaks = br, .collapse_space = collapse};
                const std::string want = reference_decode(text, rules);
                ASSERT_EQ(cuekit::xml_text_decode(text, buf, rules), want)
                    << testing::PrintToString(text) << " br " << br << " collapse " << collapse;
                // Stored as lines, with unchanged ones left in the text: the lines of the copy.
                cuekit::Store lean;
                cuekit::Store copied;
                lean.set_text(text, nullptr);
                ASSERT_EQ(markup.decode(text, rules), want);
                ASSERT_EQ(markup.add_to(lean, cuekit::cue_add(lean, 0, 1)),
                          cuekit::cue_add_text(copied, cuekit::cue_add(copied, 0, 1), want));
                ASSERT_EQ(lean.cue(0).line_count, copied.cue(0).line_count);
                for (size_t j = 0; j < lean.cue(0).line_count; ++j) {
                    ASSERT_EQ(lean.line(0, j), copied.line(0, j)) << testing::PrintToString(text);
                    const std::string_view line = lean.line(0, j);
                    views += line.data() >= text.data() && line.data() < text.data() + text.size() ? 1 : 0;
                }
            }
    }
    EXPECT_GT(views, 10000); // unchanged lines are not copied
}

} // namespace
