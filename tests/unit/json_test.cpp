// The JSON result document.
#include "core/cues.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>
#include <yyjson.h>

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
    g_sub.format = SUB_FORMAT_SRT;
    int a = sub_cue_add(1000, 2500);
    sub_cue_add_line(a, "Hello");
    sub_cue_add_line(a, "World");
    sub_cue_add(-5, 0);
    EXPECT_EQ(build(), R"({"format":"srt","cues":[{"start":1000,"end":2500,"lines":["Hello","World"]},)"
                       R"({"start":-5,"end":0,"lines":[]}]})");
}

TEST_F(JsonTest, DanmakuCues) {
    g_sub.format = SUB_FORMAT_BILIBILI;
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
    g_sub.format = SUB_FORMAT_SRT;
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
        g_sub.format = SUB_FORMAT_SRT;
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

namespace {

// A line with each maximal ill-formed subpart replaced by U+FFFD, one code point at a time.
std::string well_formed(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        size_t bad = 0;
        const size_t len = cuekit::utf8_sequence(s, i, bad);
        out += len ? s.substr(i, len) : std::string_view("\xEF\xBF\xBD");
        i += len ? len : bad;
    }
    return out;
}

// The document as yyjson's own writer builds it from a tree of values (lines made
// well-formed first): the writer of the library must give the same bytes for every document.
std::string reference_json(const sub_state& st) {
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "format", sub_format_name(st.format));
    yyjson_mut_val* arr = yyjson_mut_arr(doc);
    yyjson_mut_obj_add_val(doc, root, "cues", arr);
    for (int i = 0; i < st.count; ++i) {
        const sub_cue& c = st.cues[i];
        yyjson_mut_val* obj = yyjson_mut_obj(doc);
        yyjson_mut_obj_add_int(doc, obj, "start", c.start_ms);
        yyjson_mut_obj_add_int(doc, obj, "end", c.end_ms);
        yyjson_mut_val* lines = yyjson_mut_arr(doc);
        for (int j = 0; j < c.lines.count; ++j)
            yyjson_mut_arr_add_strcpy(doc, lines, well_formed(c.lines.items[j]).c_str());
        yyjson_mut_obj_add_val(doc, obj, "lines", lines);
        if (c.is_danmu) {
            yyjson_mut_obj_add_bool(doc, obj, "danmu", true);
            yyjson_mut_obj_add_int(doc, obj, "mode", c.mode);
            yyjson_mut_obj_add_uint(doc, obj, "color", c.color);
            yyjson_mut_obj_add_real(doc, obj, "fontsize", static_cast<double>(c.fontsize));
        }
        yyjson_mut_arr_append(arr, obj);
    }
    char* text = yyjson_mut_write(doc, 0, nullptr);
    std::string out = text ? text : "(refused)";
    std::free(text);
    yyjson_mut_doc_free(doc);
    return out;
}

TEST(JsonWriter, SameBytesAsATreeWrittenByYyjson) {
    std::mt19937 rng(20261207);
    const std::vector<std::string> pieces = {
        "a", "Z", " ", "\"", "\\", "/", "\b", "\f", "\n", "\r", "\t", "\x01", "\x1f", "\x7f", "\xC3\xA9",
        "\xD0\x96", "\xE4\xB8\xAD", "\xE2\x80\xA8", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF", "long plain ascii run ",
        "\xE0\xA4\x85", "\xED\x95\x9C", "\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80"};
    // A third of the rounds mix in ill-formed pieces, next to the ranges of each lead.
    const std::vector<std::string> ill = {"\xFF", "\xC0\xAF", "\xC1", "\xE0\x9F\x80", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                                          "\xF4\x90\x80\x80", "\xF5", "\x80", "\xBF", "\xE2\x82", "\xF0\x9F\x98", "\xC3"};
    // Lines that can be copied whole are written by a shortcut: a third of the rounds are mostly those.
    const std::vector<std::string> plain = {"a", "Z", " ", "/", "\x7f", "\xC3\xA9", "\xD0\x96", "\xE4\xB8\xAD", "\xEF\xBF\xBF",
                                            "long plain ascii run "};
    // Reals change layout at 1e-6 and 1e21: sizes on both sides of each.
    const float sizes[] = {25.0f, 18.3f, 0.0f, -0.0f, 1e-7f, 12345.678f, 3.4e38f, 1.5e-45f, 100.0f,
                           36.0f, 1e-6f, 1e-5f, 1e20f, 1e21f, 4.5e15f};
    for (int round = 0; round < 600; ++round) {
        sub_state st = cuekit::make_empty_state();
        st.format = static_cast<int32_t>(rng() % (SUB_FORMAT_COUNT + 1)) + SUB_FORMAT_AUTO;
        const int n = static_cast<int>(rng() % 6);
        for (int i = 0; i < n; ++i) {
            const int idx = cuekit::cue_add(st, static_cast<int32_t>(rng()), static_cast<int32_t>(rng()));
            const int lines = static_cast<int>(rng() % 4);
            for (int j = 0; j < lines; ++j) {
                std::string line;
                const int len = static_cast<int>(rng() % 30);
                for (int k = 0; k < len; ++k)
                    line += (round % 3 == 1 && rng() % 40) ? plain[rng() % plain.size()]
                            : (round % 3 == 2 && rng() % 8 == 0) ? ill[rng() % ill.size()]
                                                                 : pieces[rng() % pieces.size()];
                cuekit::cue_add_line(st, idx, line);
            }
            if (rng() % 2) {
                st.cues[idx].is_danmu = 1;
                st.cues[idx].mode = static_cast<int32_t>(rng());
                st.cues[idx].color = static_cast<uint32_t>(rng()) & 0xFFFFFF;
                st.cues[idx].fontsize = sizes[rng() % std::size(sizes)];
            }
        }
        char* mine = cuekit::write_json(st);
        ASSERT_NE(mine, nullptr);
        EXPECT_EQ(std::string(mine), reference_json(st)) << "round " << round;
        std::free(mine);
        cuekit::state_reset(st);
    }
}

// Every pair of bytes, and triples and quadruples of the bytes at the edges of each UTF-8
// range, at every offset within a sixteen-byte step: the lines' fast checks against the
// character-by-character reference.
TEST(JsonWriter, EveryShortSequenceAsTheReferenceHasIt) {
    const std::string edges3 = {'\x00', '\x1F', '"', '\\', 'A', '\x7F', '\x80', '\x8F', '\x90', '\x9F', '\xA0', '\xBF', '\xC0',
                                '\xC1', '\xC2', '\xDF', '\xE0', '\xE1', '\xEC', '\xED', '\xEE', '\xEF', '\xF0', '\xF1', '\xF3',
                                '\xF4', '\xF5', '\xF8', '\xFF'};
    const std::string edges4 = {'A', '\x80', '\x8F', '\x90', '\x9F', '\xA0', '\xBF', '\xC2', '\xE0', '\xED', '\xF0', '\xF4', '\xF5'};
    std::vector<std::string> seqs;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) seqs.push_back({static_cast<char>(a), static_cast<char>(b)});
    for (const char a : edges3)
        for (const char b : edges3)
            for (const char c : edges3) seqs.push_back({a, b, c});
    for (const char a : edges4)
        for (const char b : edges4)
            for (const char c : edges4)
                for (const char d : edges4) seqs.push_back({a, b, c, d});
    sub_state st = cuekit::make_empty_state();
    st.format = SUB_FORMAT_SRT;
    for (size_t k = 0; k < seqs.size(); ++k) {
        // A NUL would end the line early: it is written as a line of its own kind elsewhere.
        std::string line = std::string(k % 20, 'x') + seqs[k] + std::string(k % 3, 'y');
        std::replace(line.begin(), line.end(), '\0', '\x01');
        cuekit::cue_add_line(st, cuekit::cue_add(st, 0, 1), line);
    }
    char* mine = cuekit::write_json(st);
    ASSERT_NE(mine, nullptr);
    const std::string reference = reference_json(st);
    EXPECT_TRUE(std::string(mine) == reference);
    std::free(mine);
    // The quoting the library lends to documents of others is the document's own.
    std::string quoted;
    for (int i = 0; i < st.count; ++i)
        quoted.append(R"({"start":0,"end":1,"lines":[)").append(cuekit::json_quoted(st.cues[i].lines.items[0])).append("]},");
    EXPECT_NE(reference.find(quoted.substr(0, quoted.size() - 1)), std::string::npos);
    cuekit::state_reset(st);
}

// UTF-8 text as UTF-16LE with a byte-order mark.
std::string utf16le_with_mark(const std::string& utf8) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::string out(utf8.size() * 4 + 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* to = out.data() + 2;
    size_t in_left = utf8.size(), out_left = out.size() - 2;
    iconv(cd, &in, &in_left, &to, &out_left);
    iconv_close(cd);
    out.resize(out.size() - out_left);
    out[0] = '\xFF';
    out[1] = '\xFE';
    return out;
}

// Lines that are views of a text checked whole as well-formed skip their own check: parsed
// texts, well-formed and not, against the reference built from the same lines.
TEST(JsonWriter, LinesOfACheckedTextAsTheReferenceHasThem) {
    std::mt19937 rng(41);
    const std::vector<std::string> pieces = {"a", "Zq ", "\"", "\\", "/", "\t", "\x01", "\x7f", "\xC3\xA9", "\xE4\xB8\xAD",
                                             "\xF0\x9F\x98\x80", "\xED\x95\x9C", "\xE0\xA4\x85", "plain ascii run "};
    for (int round = 0; round < 200; ++round) {
        std::string srt;
        for (int cue = 0; cue < 8; ++cue) {
            srt += "00:00:01,000 --> 00:00:02,000\n";
            for (int line = 0; line < 2; ++line) {
                const int len = static_cast<int>(rng() % 12);
                for (int k = 0; k < len; ++k) srt += pieces[rng() % pieces.size()];
                srt += "x\n";
            }
            srt += "\n";
        }
        if (round % 4 == 3) srt.insert(srt.size() / 2, "\xED\xA0\x80"); // a surrogate: not well-formed
        if (round % 4 == 2) srt = utf16le_with_mark(srt);                // converted by a loop of our own
        if (round % 8 == 1) srt = "\xEF\xBB\xBF" + srt;                  // checked by the writer
        ASSERT_EQ(cuekit_test::parse(srt), 0) << round;
        EXPECT_EQ(std::string(sub_result_json()), reference_json(g_sub)) << round;
    }
}

TEST(JsonWriter, NonFiniteFontSizeRefusesTheDocument) {
    sub_state st = cuekit::make_empty_state();
    st.format = SUB_FORMAT_BILIBILI;
    const int i = cuekit::cue_add(st, 0, 1);
    st.cues[i].is_danmu = 1;
    st.cues[i].fontsize = std::numeric_limits<float>::infinity();
    EXPECT_EQ(cuekit::write_json(st), nullptr);
    cuekit::state_reset(st);
}

} // namespace
