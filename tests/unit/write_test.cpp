// Writers: exact output of each target, text that must stay inert, markup translation, time
// operations, the danmaku layout, and the round trip over every example file and a generated
// corpus of every format.
#include "../../fuzz/round_trip.hpp"
#include "test_util.hpp"
#include "writers/writer.hpp"

#include <cuekit.hpp>
#include <generator.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

using cuekit::Format;
using cuekit::Result;
using cuekit::WriteOptions;

constexpr std::string_view kTwoCues = "1\n00:00:01,000 --> 00:00:02,500\n<i>Hello</i>\nworld & co\n\n"
                                      "2\n00:01:02,005 --> 00:01:03,000\nBye\n\n";

TEST(Write, EveryTargetExactly) {
    const Result r = cuekit::parse(kTwoCues, Format::Srt);
    ASSERT_TRUE(r.ok());
    const std::map<std::string, std::string> want{
        {"srt", std::string(kTwoCues)},
        {"vtt", "WEBVTT\n\n00:00:01.000 --> 00:00:02.500\n<i>Hello</i>\nworld &amp; co\n\n"
                "00:01:02.005 --> 00:01:03.000\nBye\n\n"},
        {"ttml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"\">\n"
                 "<body>\n<div>\n<p begin=\"00:00:01.000\" end=\"00:00:02.500\">Hello<br/>\nworld &amp; co</p>\n"
                 "<p begin=\"00:01:02.005\" end=\"00:01:03.000\">Bye</p>\n</div>\n</body>\n</tt>\n"},
        // 62.005 s rounds half up to 62.01; the gap after the first cue gets an empty lyric.
        {"lrc", "[00:01.00]Hello\n[00:01.00]world & co\n[00:02.50]\n[01:02.01]Bye\n[01:03.00]\n"},
        {"txt", "Hello\nworld & co\nBye\n"},
    };
    for (const auto& [target, text] : want) EXPECT_EQ(r.write(target), text) << target;

    const std::string ass = r.write("ass");
    EXPECT_NE(ass.find("PlayResX: 1920\nPlayResY: 1080\n"), std::string::npos);
    EXPECT_NE(ass.find("\nStyle: Default,sans-serif,54,"), std::string::npos);
    EXPECT_NE(ass.find("\nDialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,{\\i1}Hello{\\i0}\\Nworld & co\n"
                       "Dialogue: 0,0:01:02.01,0:01:03.00,Default,,0,0,0,,Bye\n"),
              std::string::npos)
        << ass;
    EXPECT_EQ(r.write("json"), r.json() + "\n");
    EXPECT_EQ(r.write(Format::Vtt), r.write("vtt"));
}

// A cue's text as it must survive any target (see the shared round-trip check).
std::string normal_text(const cuekit::CueRef& c, Format format) {
    return cuekit_round_trip::normal_text(c.lines(), static_cast<int>(format));
}

// Every cue's normal text that is not empty, one per line.
std::string normal_cues(const Result& r) {
    std::string out;
    for (const auto& c : r)
        if (std::string t = normal_text(c, r.format()); !t.empty()) out += t + "\n";
    return out;
}

struct Inert {
    std::string_view name;
    Format from;
    std::string_view source;
    std::string_view target;
    std::string_view written; // must occur in the output
};

// Text that would break the target's structure, how it is written, and (below) that the
// target's reader gives the cue back.
TEST(Write, TextStaysInert) {
    const std::string timing_text = "<tt><body><p begin=\"1s\" end=\"2s\">00:00:05,000 --&gt; 00:00:06,000</p></body></tt>";
    const std::string danmaku_empty = "<i><d p=\"1,1,25,16777215\"></d></i>";
    const std::string ttml_markup = "<tt><body><div><p begin=\"1s\" end=\"2s\">a &lt;b&gt; {\\i1} &amp; \\N C:\\New</p>"
                                    "</div></body></tt>";
    const std::string lrc_bracket = "[00:01.00]\xE2\x81\xA0[chorus] la\n[00:02.00]\n";
    const std::vector<Inert> cases{
        {"timing line in SubRip text", Format::Ttml, timing_text, "srt", "00:00:05,000 --\xE2\x81\xA0> 00:00:06,000\n"},
        {"empty comment in SubRip", Format::Bilibili, danmaku_empty, "srt", "00:00:04,000\n\xC2\xA0\n\n"},
        {"empty comment in WebVTT", Format::Bilibili, danmaku_empty, "vtt", "00:00:04.000\n\xC2\xA0\n\n"},
        {"tag-like text in SubRip", Format::Ttml, ttml_markup, "srt", "a <\xE2\x81\xA0" "b>"},
        {"markup characters in WebVTT", Format::Ttml, ttml_markup, "vtt", "a &lt;b&gt; {\\i1} &amp; \\N"},
        {"braces and breaks in ASS", Format::Ttml, ttml_markup, "ass",
         ",,a <b> \\{\\i1\\} & \\\xE2\x81\xA0N C:\\\xE2\x81\xA0New\n"},
        {"markup characters in TTML", Format::Ttml, ttml_markup, "ttml", ">a &lt;b&gt; {\\i1} &amp; \\N C:\\New</p>"},
        {"leading bracket in LRC", Format::Lrc, lrc_bracket, "lrc", "[00:01.00]\xE2\x81\xA0[chorus] la\n"},
    };
    for (const Inert& c : cases) {
        const Result r = cuekit::parse(c.source, c.from);
        ASSERT_TRUE(r.ok()) << c.name;
        const std::string out = r.write(c.target);
        EXPECT_NE(out.find(c.written), std::string::npos) << c.name << ":\n" << out;
        const Result back = cuekit::parse(out, cuekit::detect_format(out, ("x." + std::string(c.target)).c_str()));
        ASSERT_TRUE(back.ok()) << c.name << ":\n" << out;
        EXPECT_EQ(normal_cues(back), normal_cues(r)) << c.name;
    }
}

struct Kept {
    std::string_view name;
    Format from;
    std::string source;
    std::string_view target;
    std::string_view written; // must occur in the output
    std::string_view note;    // must occur in the one note, or no note
};

// Text and times a writer must not lose: the output holds them, and reads back (detected from
// its content) to the same cues.
TEST(Write, KeepsTextAndTimes) {
    const auto srt = [](std::string_view body) { return "1\n00:00:01,000 --> 00:00:02,000\n" + std::string(body) + "\n"; };
    const auto ttml = [](std::string_view body) { return "<tt><body><p begin=\"1s\" end=\"2s\">" + std::string(body) + "</p></body></tt>"; };
    const std::vector<Kept> cases{
        {"ill-formed UTF-8", Format::Srt, "\xEF\xBB\xBF" + srt("\xEC\x95\x88 \xEC\xFF\xFF"), "srt", "\xEC\x95\x88 \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\n", ""},
        {"XML-forbidden characters", Format::Srt, srt("a\x1A\x0C" "b"), "ttml", "\">ab</p>", ""},
        {"space runs in TTML", Format::Srt, srt("a  b\tc"), "ttml", "xml:space=\"preserve\">a  b\tc</p>", ""},
        {"line separator inside", Format::Ttml, ttml("a&#x2028;b"), "srt", "\na\nb\n", ""},
        {"line separator first", Format::Ttml, ttml("&#x2028;b"), "vtt", "\n\xC2\xA0\nb\n", ""},
        {"line separator in ASS", Format::Ttml, ttml("a&#x2028;b"), "ass", ",,a\\Nb\n", ""},
        {"no length in ASS", Format::Srt, "00:00:01,000 --> 00:00:01,000\nx\n\n00:00:03,000 --> 00:00:02,000\ny\n", "ass",
         "0:00:01.00,0:00:01.01,", "2 cues without length"},
        {"no length in TTML", Format::Srt, "00:00:01,000 --> 00:00:01,000\nx\n", "ttml", "begin=\"00:00:01.000\" end=\"00:00:01.001\"",
         "1 cue without length"},
        {"past ASS's largest time", Format::Srt, "00:00:01,000 --> 596:31:23,647\nx\n", "ass", ",596:31:23.64,", "past the largest"},
        {"LRC cue shorter than a centisecond", Format::Srt, "00:00:04,000 --> 00:00:04,004\na\n\n00:00:09,000 --> 00:00:10,000\nb\n",
         "lrc", "[00:04.00]a\n[00:04.01]\n[00:09.00]b\n", ""},
        {"LRC starts in one centisecond", Format::Srt, "00:00:01,000 --> 00:00:01,500\na\n\n00:00:01,004 --> 00:00:02,000\nb\n",
         "lrc", "[00:01.00]a\n[00:01.01]b\n", ""},
        {"TTML signature in SubRip", Format::Ass,
         "[Events]\nFormat: Start, End, Text\nDialogue: 0:00:01.00,0:00:02.00,Hello xmlns=\"http://www.w3.org/ns/ttml\"\n", "srt", "Hello", ""},
        {"ASS signature in SubRip", Format::Srt, srt("See [Script Info] here <SYNC Start=1> <d p=\"1\">"), "srt", "[Script Info]", ""},
        {"ASS signature in TTML", Format::Srt, srt("[Events]"), "ttml", "[Events]", ""},
        {"signatures in LRC", Format::Srt, srt("ttml [Events] <SAMI>"), "lrc", "ttml", ""},
    };
    for (const Kept& c : cases) {
        const Result r = cuekit::parse(c.source, c.from);
        ASSERT_TRUE(r.ok()) << c.name;
        std::string out;
        std::vector<std::string> notes;
        ASSERT_EQ(r.write_to(c.target, [&](std::string_view s) { out.append(s); return true; }, {}, &notes), 0) << c.name;
        EXPECT_NE(out.find(c.written), std::string::npos) << c.name << ":\n" << out;
        EXPECT_EQ(notes.size(), c.note.empty() ? 0u : 1u) << c.name;
        if (!notes.empty()) {
            EXPECT_NE(notes[0].find(c.note), std::string::npos) << c.name << ": " << notes[0];
        }
        const Result back = cuekit::parse(out, Format::Auto);
        EXPECT_EQ(cuekit_round_trip::difference(cuekit_round_trip::cues_of(r), *cuekit_round_trip::find(c.target), back), "")
            << c.name << ":\n" << out;
    }
}

struct Translation {
    Format from;
    std::string_view line;
    std::string_view target;
    bool strip;
    std::string_view want; // the cue text as written
};

TEST(Write, MarkupTranslation) {
    const std::vector<Translation> cases{
        {Format::Srt, "<b>x</b> <u>y</u> <s>z</s>", "ass", false, "{\\b1}x{\\b0} {\\u1}y{\\u0} {\\s1}z{\\s0}"},
        {Format::Srt, "<font color=\"#FF8000\">o</font>k", "ass", false, "{\\c&H0080FF&}o{\\c}k"},
        // Tags stay nested: what was opened inside is closed first and opened again.
        {Format::Srt, "<font color=red><i>r</font> still", "vtt", false,
         "<font color=\"#FF0000\"><i>r</i></font><i> still</i>"},
        {Format::Ass, "{\\c&H0000FF&}a{\\u1}b", "srt", false, "<font color=\"#FF0000\">a<u>b</u></font>"},
        // Angle brackets that hold no tag of the source's markup are text.
        {Format::Srt, "<c.yellow>v</c> <i>x", "vtt", false, "&lt;c.yellow&gt;v&lt;/c&gt; <i>x</i>"},
        {Format::Srt, "<c.yellow>v</c> <i>x", "ass", false, "<c.yellow>v</c> {\\i1}x"},
        {Format::Srt, "<LAUGHING & WHOOPS!>", "ass", false, "<LAUGHING & WHOOPS!>"},
        {Format::Srt, "I <3 you, a<b and c>d", "txt", false, "I <3 you, a<b and c>d"},
        {Format::Srt, "<unk> <b>x</b>", "srt", true, "<\xE2\x81\xA0unk> x"},
        {Format::Srt, "<unk> <b>x</b>", "srt", false, "<unk> <b>x</b>"},
        {Format::Sami, "<SAMI><BODY><SYNC Start=1000><P>&lt;LAUGHING&gt; <i>ha</i><SYNC Start=2000>&nbsp;", "srt", false,
         "<\xE2\x81\xA0LAUGHING> <i>ha</i>"},
        {Format::Sami, "<SAMI><BODY><SYNC Start=1000><P>&lt;LAUGHING&gt; <i>ha</i><SYNC Start=2000>&nbsp;", "vtt", false,
         "&lt;LAUGHING&gt; <i>ha</i>"},
        {Format::Vtt, "<v Bob>hi</v>", "srt", false, "hi"},
        {Format::Vtt, "a &amp; &lt;i&gt;", "srt", false, "a & <\xE2\x81\xA0i>"},
        {Format::Ass, "{\\i1\\pos(1,2)}a{\\i0}\\hb", "srt", false, "<i>a</i>\xC2\xA0" "b"},
        {Format::Ass, "{\\i1\\pos(1,2)}a{\\i0}", "ass", false, "{\\i1\\pos(1,2)}a{\\i0}"},
        {Format::Ass, "{\\c&H0000FF&\\b700}r{\\r}n", "srt", false, "<font color=\"#FF0000\"><b>r</b></font>n"},
        {Format::Ass, "{\\p1}m 0 0 l 10 0{\\p0}text{\\k20}", "srt", false, "text"},
        {Format::Ass, "{\\p1}m 0 0 l 10 0{\\p0}text{\\k20}", "ass", false, "{\\p1}m 0 0 l 10 0{\\p0}text{\\k20}"},
        {Format::Ass, "{note}\\{x\\}", "ass", false, "{note}\\{x\\}"},
        {Format::Srt, "<i>a</i> <font color=\"#fff\">b</font>", "srt", true, "a b"},
        {Format::Ass, "{\\b1}a{\\b0}", "ass", true, "a"},
        {Format::Vtt, "<v Bob>&amp;", "txt", false, "&"},
    };
    for (const Translation& c : cases) {
        const std::string src = c.from == Format::Sami ? std::string(c.line)
                                : c.from == Format::Ass
                                    ? "[Events]\nFormat: Start, End, Text\nDialogue: 0:00:01.00,0:00:02.00," + std::string(c.line) + "\n"
                                    : (c.from == Format::Vtt ? "WEBVTT\n\n" : "") +
                                          std::string("00:00:01,000 --> 00:00:02,000\n") + std::string(c.line) + "\n";
        const Result r = cuekit::parse(src, c.from);
        ASSERT_TRUE(r.ok()) << c.line;
        const std::string out = r.write(c.target, {.strip = c.strip});
        EXPECT_NE(out.find(std::string(c.want) + "\n"), std::string::npos) << c.line << " -> " << c.target << ":\n" << out;
    }
}

TEST(Write, StripDecodesReferencesInJson) {
    const Result r = cuekit::parse("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n<i>a &amp; b</i>\n", Format::Vtt);
    const std::string json = r.write("json", {.strip = true});
    EXPECT_NE(json.find("\"lines\":[\"a & b\"]"), std::string::npos) << json;
}

TEST(Write, BadRequests) {
    const Result r = cuekit::parse(kTwoCues, Format::Srt);
    std::string sink;
    const cuekit::Sink append = [&](std::string_view s) { sink.append(s); return true; };
    EXPECT_EQ(r.write_to("docx", append), 1);
    EXPECT_EQ(r.write_to(Format::MicroDvd, append), 1);
    EXPECT_EQ(r.write_to("ass", append, {.canvas_width = 0}), 1);
    EXPECT_EQ(r.write_to("ass", append, {.font = "a,b"}), 1);
    EXPECT_EQ(r.write_to("ass", append, {.opacity = 1.5}), 1);
    EXPECT_EQ(r.write_to("srt", [](std::string_view) { return false; }), 6);
    EXPECT_EQ(cuekit::parse("nothing").write_to("srt", append), 5);
    EXPECT_THROW((void)r.write("docx"), std::invalid_argument);

    // The C function: a malloc'd text, and the codes.
    ASSERT_EQ(sub_parse(kTwoCues.data(), kTwoCues.size(), 0, nullptr), 0);
    char* out = nullptr;
    size_t len = 0;
    ASSERT_EQ(sub_write("srt", nullptr, &out, &len), 0);
    EXPECT_EQ(std::string(out, len), kTwoCues);
    std::free(out);
    sub_write_options o;
    sub_write_options_init(&o);
    o.lanes = 0;
    EXPECT_EQ(sub_write("ass", &o, &out, &len), 1);
    EXPECT_EQ(sub_write("nope", nullptr, &out, &len), 1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sub_write("srt", nullptr, nullptr, &len), SUB_WRITE_BAD_ARGUMENT);
    sub_clear();
    EXPECT_EQ(sub_write("srt", nullptr, &out, &len), 5);
}

TEST(Write, TargetsByNameAndExtension) {
    struct Case {
        const char* name;
        int by_name, by_path; // target of `name` as a name, and as a file name
    };
    constexpr int kSrt = 0, kVtt = 1, kAss = 2, kTtml = 3, kJson = 6, kNone = SUB_TARGET_UNKNOWN;
    const Case cases[] = {
        {"srt", kSrt, kNone},          {"SRT", kSrt, kNone},         {"ssa", kAss, kNone},
        {"x.SRT", kNone, kSrt},        {"x.webvtt", kNone, kVtt},    {"a.b.Ssa", kNone, kAss},
        {"b.dfxp", kNone, kTtml},      {"c.json", kNone, kJson},     {"d.smi", kNone, kNone},
        {"dir.srt/x", kNone, kNone},   {"", kNone, kNone},           {nullptr, kNone, kNone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sub_target_from_name(c.name), c.by_name) << (c.name ? c.name : "NULL");
        EXPECT_EQ(sub_target_from_path(c.name), c.by_path) << (c.name ? c.name : "NULL");
    }
    // Every target by its own name and usual extension; a name the C++ writer takes.
    for (int t = 0; t < sub_target_count(); ++t) {
        EXPECT_EQ(sub_target_from_name(sub_target_name(t)), t);
        EXPECT_EQ(sub_target_from_path((std::string("out") + sub_target_extension(t, 0)).c_str()), t);
        EXPECT_EQ(cuekit::target_name(t), sub_target_name(t));
    }
    EXPECT_EQ(sub_target_name(sub_target_count()), nullptr);
    EXPECT_EQ(sub_target_extension(0, 5), nullptr);
    EXPECT_EQ(sub_format_alias(SUB_FORMAT_ASS, 0), std::string_view("ssa"));
    EXPECT_EQ(sub_format_extension(SUB_FORMAT_VTT, 1), std::string_view(".webvtt"));
    EXPECT_EQ(sub_format_alias(SUB_FORMAT_SRT, 0), nullptr);
}

TEST(Write, OptionProblemsNameTheOptionAndRange) {
    struct Case {
        WriteOptions o;
        const char* problem; // as sub_write_options_check gives it; nullptr: valid
    };
    const Case cases[] = {
        {{}, nullptr},
        {{.canvas_width = 16, .canvas_height = 16384}, nullptr},
        {{.canvas_height = 15}, "canvas: expected a width and a height from 16 to 16384 each"},
        {{.font = std::string("a\0b", 3)}, "font: expected a name without a comma, line break or NUL byte"},
        {{.font = "a\nb"}, "font: expected a name without a comma, line break or NUL byte"},
        {{.font_scale = 0.001}, "font_scale: expected a number from 0.01 to 100"},
        {{.opacity = std::nan("")}, "opacity: expected a number from 0 to 1"},
        {{.scroll_time = 3601}, "scroll_time: expected a number from 0.1 to 3600"},
        {{.fixed_time = 0.05}, "fixed_time: expected a number from 0.1 to 3600"},
        {{.lanes = 0}, "lanes: expected a number from 0.01 to 1"},
    };
    const Result r = cuekit::parse(kTwoCues, Format::Srt);
    for (const Case& c : cases) {
        const cuekit::OptionProblem p = cuekit::check_options(c.o);
        const std::string named = p ? std::string(p.option) + ": " + std::string(p.expected) : "";
        EXPECT_EQ(named, c.problem ? c.problem : "");
        EXPECT_EQ(r.write_to("ass", [](std::string_view) { return true; }, c.o), c.problem ? SUB_WRITE_BAD_ARGUMENT : 0);
        if (c.o.font.find('\0') != std::string::npos) continue; // a C string cannot hold it
        sub_write_options co;
        sub_write_options_init(&co);
        co.canvas_width = c.o.canvas_width;
        co.canvas_height = c.o.canvas_height;
        co.font = c.o.font.c_str();
        co.font_scale = c.o.font_scale;
        co.opacity = c.o.opacity;
        co.scroll_time = c.o.scroll_time;
        co.fixed_time = c.o.fixed_time;
        co.lanes = c.o.lanes;
        const char* got = sub_write_options_check(&co);
        EXPECT_EQ(std::string(got ? got : ""), c.problem ? c.problem : "");
    }
    EXPECT_EQ(sub_write_options_check(nullptr), nullptr);
}

// The C records and the store are two adapters of one view: every target reads the same.
TEST(Write, RecordsAndStoreWriteAlike) {
    for (const auto& entry : std::filesystem::directory_iterator(CUEKIT_SOURCE_DIR "/examples")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Result r = cuekit::parse(bytes);
        if (!r.ok() || sub_parse(bytes.data(), bytes.size(), SUB_FORMAT_AUTO, nullptr) != SUB_OK) continue;
        for (int t = 0; t < sub_target_count(); ++t) {
            for (const bool strip : {false, true}) {
                sub_write_options o;
                sub_write_options_init(&o);
                o.strip = strip ? 1 : 0;
                char* out = nullptr;
                size_t len = 0;
                ASSERT_EQ(sub_write(sub_target_name(t), &o, &out, &len), SUB_WRITE_OK);
                EXPECT_EQ(std::string(out, len), r.write(sub_target_name(t), {.strip = strip}))
                    << entry.path() << " " << sub_target_name(t) << (strip ? " stripped" : "");
                std::free(out);
            }
        }
    }
    sub_clear();
}

struct RetimeCase {
    std::string_view name;
    int shift;
    double from, to;
    std::vector<std::pair<int, int>> want;
    int warnings;
};

TEST(Write, Retime) {
    const std::string src = "00:00:00,500 --> 00:00:01,000\na\n\n00:00:01,000 --> 00:00:03,000\nb\n\n"
                            "00:00:10,000 --> 00:00:12,000\nc\n";
    const std::vector<RetimeCase> cases{
        {"shift later", 1500, 0, 0, {{2000, 2500}, {2500, 4500}, {11500, 13500}}, 0},
        {"shift earlier drops what ends at 0", -1000, 0, 0, {{0, 2000}, {9000, 11000}}, 1},
        {"23.976 to 25", 0, 23.976, 25, {{480, 959}, {959, 2877}, {9590, 11508}}, 0},
        {"scale, then shift", -2000, 2, 1, {{0, 4000}, {18000, 22000}}, 1},
        {"clamped", 0, 1e7, 1, {{INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MAX}}, 1},
    };
    for (const RetimeCase& c : cases) {
        ASSERT_EQ(cuekit_test::parse(src, SUB_FORMAT_SRT), 0);
        ASSERT_EQ(sub_retime(c.shift, c.from, c.to), 0) << c.name;
        std::vector<std::pair<int, int>> got;
        for (const auto& cue : cuekit_test::cues()) got.emplace_back(cue.start, cue.end);
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_EQ(sub_warning_count(), c.warnings) << c.name;
        // The document follows the new times.
        EXPECT_NE(std::string(sub_result_json()).find("{\"start\":" + std::to_string(c.want[0].first)), std::string::npos)
            << sub_result_json();
    }
    for (const auto& [from, to] : std::vector<std::pair<double, double>>{{0, 25}, {25, 0}, {-1, 25}, {NAN, 1}})
        EXPECT_EQ(sub_retime(0, from, to), 1);
    Result r = cuekit::parse(src, Format::Srt);
    EXPECT_EQ(r.retime(-1000), 0);
    EXPECT_EQ(r.size(), 2u);
    EXPECT_EQ(r.warnings().size(), 1u);
}

// ---- danmaku laid out as ASS

struct Event {
    double start, end; // seconds
    double x1, y, x2;  // \move, or x1 = x2 for fixed
    std::string text;
};

double seconds(const std::string& t) {
    int h = 0, m = 0, s = 0, cs = 0;
    std::sscanf(t.c_str(), "%d:%d:%d.%d", &h, &m, &s, &cs);
    return h * 3600 + m * 60 + s + cs / 100.0;
}

std::vector<Event> events(const std::string& ass) {
    std::vector<Event> out;
    static const std::regex move(R"(^Dialogue: 0,([^,]+),([^,]+),Default,,0,0,0,,\{\\move\((-?\d+),(-?\d+),(-?\d+),(-?\d+)\)[^}]*\}(.*)$)");
    std::istringstream in(ass);
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_match(line, m, move))
            out.push_back({seconds(m[1]), seconds(m[2]), std::stod(m[3]), std::stod(m[4]), std::stod(m[5]), m[7]});
    return out;
}

std::string dense_danmaku(int n) {
    std::string xml = "<?xml version=\"1.0\"?><i>";
    uint32_t seed = 7;
    for (int k = 0; k < n; ++k) {
        seed = seed * 1103515245 + 12345;
        const double t = k * 0.05 + (seed % 100) / 1000.0;
        std::string text = (seed >> 8) % 3 == 0 ? "\xE5\xBC\xB9\xE5\xB9\x95\xE5\xBC\xB9\xE5\xB9\x95" : "hello there";
        text.append((seed >> 12) % 20, 'w');
        xml += "<d p=\"" + std::to_string(t) + ",1,25,16777215\">" + text + "</d>";
    }
    return xml + "</i>";
}

TEST(Write, DanmakuScrollingCommentsNeverOverlapInALane) {
    const Result r = cuekit::parse(dense_danmaku(3000), Format::Bilibili);
    ASSERT_TRUE(r.ok());
    std::vector<std::string> notes;
    std::string ass;
    ASSERT_EQ(r.write_to("ass", [&](std::string_view s) { ass.append(s); return true; }, {}, &notes), 0);
    const std::vector<Event> ev = events(ass);
    ASSERT_GT(ev.size(), 500u);
    ASSERT_EQ(notes.size(), 1u); // this many comments cannot all fit
    EXPECT_NE(notes[0].find("without a free lane dropped"), std::string::npos);
    EXPECT_EQ(ev.size() + std::stoul(notes[0].substr(9)), r.size());

    // For every pair in one lane: the later one enters only after the earlier one's tail has
    // entered, and its head never reaches the earlier one's tail before that leaves.
    std::map<double, std::vector<const Event*>> lanes;
    for (const Event& e : ev) lanes[e.y].push_back(&e);
    size_t pairs = 0;
    for (auto& [y, list] : lanes) {
        for (size_t k = 1; k < list.size(); ++k) {
            const Event& p = *list[k - 1];
            const Event& c = *list[k];
            const auto x_at = [](const Event& e, double t) { return e.x1 + (e.x2 - e.x1) * (t - e.start) / (e.end - e.start); };
            const double p_width = -p.x2;
            for (double t = c.start; t <= std::min(p.end, c.end); t += 0.05) {
                const double p_tail = x_at(p, t) + p_width;
                EXPECT_LE(p_tail, x_at(c, t) + 3.0) << "lane " << y << " at " << t;
            }
            ++pairs;
        }
    }
    EXPECT_GT(pairs, 100u);

    // Kept stacked on request: nothing dropped.
    std::vector<std::string> none;
    ass.clear();
    ASSERT_EQ(r.write_to("ass", [&](std::string_view s) { ass.append(s); return true; }, {.danmaku_overlap = true}, &none), 0);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(events(ass).size(), r.size());
}

TEST(Write, DanmakuModesColoursAndSizes) {
    const std::string xml = "<i><d p=\"1,5,25,16711680\">top</d><d p=\"1,4,50,255\">bottom</d>"
                            "<d p=\"2,6,25,16777215\">reverse</d><d p=\"3,7,25,0\">[0,0,\"x\"]</d>"
                            "<d p=\"4,8,25,0\">code</d></i>";
    const Result r = cuekit::parse(xml, Format::Bilibili);
    std::vector<std::string> notes;
    std::string ass;
    ASSERT_EQ(r.write_to("ass", [&](std::string_view s) { ass.append(s); return true; },
                      {.canvas_width = 1280, .canvas_height = 720, .fixed_time = 5}, &notes),
              0);
    EXPECT_NE(ass.find("Dialogue: 0,0:00:01.00,0:00:06.00,Default,,0,0,0,,{\\an8\\pos(640,0)\\c&H0000FF&}top\n"), std::string::npos) << ass;
    EXPECT_NE(ass.find("Dialogue: 0,0:00:01.00,0:00:06.00,Default,,0,0,0,,{\\an2\\pos(640,720)\\fs48\\c&HFF0000&\\3c&HFFFFFF&}bottom\n"), std::string::npos) << ass;
    EXPECT_NE(ass.find("0:00:02.00,0:00:10.00,Default,,0,0,0,,{\\move(-92,0,1280,0)}reverse\n"), std::string::npos) << ass;
    EXPECT_NE(ass.find("Style: Default,sans-serif,24,"), std::string::npos);
    EXPECT_EQ(notes, std::vector<std::string>{"danmaku: 2 comments in modes without a layout skipped"});
}

TEST(Write, DanmakuDirectionsBlankAndDark) {
    const std::string xml = "<i><d p=\"0,1,25,16777215\">leftward comment</d><d p=\"2,6,25,16777215\">rightward comment</d>"
                            "<d p=\"3,1,25,16777215\"> \xC2\xA0 </d><d p=\"4,1,25,3355443\">dark</d></i>";
    const Result r = cuekit::parse(xml, Format::Bilibili);
    std::vector<std::string> notes;
    std::string ass;
    ASSERT_EQ(r.write_to("ass", [&](std::string_view s) { ass.append(s); return true; }, {}, &notes), 0);
    const std::vector<Event> ev = events(ass);
    ASSERT_EQ(ev.size(), 3u) << ass;
    EXPECT_NE(ev[0].y, ev[1].y) << ass; // head-on otherwise
    EXPECT_NE(ass.find("\\c&H333333&\\3c&HFFFFFF&}dark\n"), std::string::npos) << ass;
    EXPECT_EQ(notes, std::vector<std::string>{"danmaku: 1 comment without text skipped"});
}

// ---- round trip

struct Target {
    std::string_view name;
    Format reads_as;
    int tolerance_ms; // rounding
    bool keeps_bad_times;
};
constexpr std::array<Target, 5> kRoundTrip{{
    {"srt", Format::Srt, 0, true},
    {"vtt", Format::Vtt, 0, true},
    {"ass", Format::Ass, 5, false},
    {"ttml", Format::Ttml, 0, false},
    {"lrc", Format::Lrc, 5, false},
}};

void check_round_trip(const Result& r, const std::string& what) {
    const bool danmaku = r.format() == Format::Bilibili || r.format() == Format::AcFun;
    for (const Target& t : kRoundTrip) {
        const std::string out = r.write(t.name, {.danmaku_overlap = true});
        const Result back = cuekit::parse(out, t.reads_as);
        struct Want {
            int start, end;
            std::string text;
        };
        std::vector<Want> want, got;
        for (const auto& c : r) {
            const int start = std::max(c.start_ms(), 0), end = std::max(c.end_ms(), 0);
            if (danmaku && t.name == "ass" && (c.mode() < 1 || c.mode() > 6)) continue;
            if (!t.keeps_bad_times && end <= start) continue;
            std::string text = normal_text(c, r.format());
            if (danmaku && t.name == "ass") std::replace(text.begin(), text.end(), '\n', ' '); // a comment is one line
            want.push_back({start, end, text});
        }
        for (const auto& c : back) got.push_back({c.start_ms(), c.end_ms(), normal_text(c, t.reads_as)});
        const auto empty = [](const Want& w) { return w.text.empty(); };
        if (t.name != "srt" && t.name != "vtt") {
            std::erase_if(want, empty); // these readers skip cues without text
            std::erase_if(got, empty);
        }
        const bool sorted = t.name == "lrc" || (danmaku && t.name == "ass");
        if (sorted) std::stable_sort(want.begin(), want.end(), [](const Want& a, const Want& b) { return a.start < b.start; });
        if (t.name == "lrc") {
            // LRC holds one lyric per moment and no overlap: compare only what it can hold.
            bool holds = true;
            for (size_t k = 1; k < want.size(); ++k) holds = holds && want[k].start > want[k - 1].end + 10;
            if (!holds) continue;
        }
        ASSERT_EQ(got.size(), want.size()) << what << " -> " << t.name << ":\n" << out.substr(0, 2000);
        for (size_t k = 0; k < want.size(); ++k) {
            const std::string where = what + " -> " + std::string(t.name) + " cue " + std::to_string(k);
            EXPECT_NEAR(got[k].start, want[k].start, t.tolerance_ms) << where;
            // A reader that keeps one line per moment gives such moments a fixed length.
            const bool one_line_per_moment = t.name == "lrc" && want[k].text.find('\n') != std::string::npos &&
                                             got[k].text.find('\n') == std::string::npos;
            if (!(danmaku && t.name == "ass") && !one_line_per_moment) {
                EXPECT_NEAR(got[k].end, want[k].end, t.tolerance_ms + (want[k].end - want[k].start < 10 ? 10 : 0)) << where;
            }
            if (one_line_per_moment)
                EXPECT_NE(want[k].text.find(got[k].text), std::string::npos) << where; // a reader that keeps one line per moment
            else
                EXPECT_EQ(got[k].text, want[k].text) << where;
        }
    }
}

// Exactly the cues written, within each target's rounding, from a file whose format is detected.
void check_exact(const Result& r, const std::string& what) {
    const bool danmaku = r.format() == Format::Bilibili || r.format() == Format::AcFun;
    for (const cuekit_round_trip::Target& t : cuekit_round_trip::kTargets) {
        if (danmaku && t.name == "ass") continue; // laid out: comments without a lane are dropped
        const Result back = cuekit::parse(r.write(t.name), cuekit::Format::Auto);
        EXPECT_EQ(back.format(), t.reads_as) << what;
        EXPECT_EQ(cuekit_round_trip::difference(cuekit_round_trip::cues_of(r), t, back), "") << what;
    }
}

TEST(Write, RoundTripEveryExample) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CUEKIT_SOURCE_DIR "/examples")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Result r = cuekit::parse(bytes, cuekit::detect_format(bytes, entry.path().c_str()));
        if (!r.ok()) continue;
        check_round_trip(r, entry.path().filename().string());
        check_exact(r, entry.path().filename().string());
        ++files;
    }
    EXPECT_GE(files, 11u);
}

TEST(Write, RoundTripGeneratedCorpus) {
    for (const auto& shape : cuekit::bench::shapes()) {
        if (shape.adversarial || !shape.parses) continue;
        const std::string bytes = cuekit::bench::generate(shape.name, 16 * 1024);
        const Result r = cuekit::parse(bytes, static_cast<Format>(shape.format));
        ASSERT_TRUE(r.ok()) << shape.name;
        check_round_trip(r, std::string(shape.name));
        check_exact(r, std::string(shape.name));
    }
}

} // namespace
