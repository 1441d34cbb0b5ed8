// Hostile inputs: whatever the bytes, a parse must end with a result code 0 to 5, a state
// whose accessors and JSON text agree, and nothing left after sub_clear. The cases run
// through every format identifier (automatic included), so parsers are covered as they are built.
#include "../../fuzz/invariants.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using cuekit_invariants::check_cleared;
using cuekit_invariants::check_parse_result;

constexpr int kFirstFormat = SUB_FORMAT_AUTO;
constexpr int kLastFormat = SUB_FORMAT_COUNT - 1;

// Parses and checks every invariant; `what` names the case in a failure.
void expect_sound(std::string_view bytes, int format, const char* encoding, const std::string& what) {
    const int rc = sub_parse(bytes.data(), bytes.size(), format, encoding);
    EXPECT_EQ(check_parse_result(rc), "") << what << ", format " << format << ", encoding "
                                          << (encoding ? encoding : "(none)") << ", result " << rc;
    for (int i = 0; i < sub_cue_count(); ++i) {
        // Times are read as int; a font size must be a number a caller can use.
        if (sub_cue_is_danmu(i)) {
            const float size = sub_cue_danmu_fontsize(i);
            EXPECT_TRUE(std::isfinite(size)) << what << ", format " << format << ": font size " << size;
        }
    }
    sub_clear();
    EXPECT_EQ(check_cleared(), "") << what;
}

void every_format(std::string_view bytes, const std::string& what, const char* encoding = nullptr) {
    for (int f = kFirstFormat; f <= kLastFormat; ++f) expect_sound(bytes, f, encoding, what);
}

// The format a case is written for and automatic detection, which (when detection finds
// nothing) runs the whole fallback order: for cases too large to repeat for every format.
void own_and_auto(std::string_view bytes, int format, const std::string& what) {
    expect_sound(bytes, format, nullptr, what);
    expect_sound(bytes, SUB_FORMAT_AUTO, nullptr, what);
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

// One small file of each format, with @N in every time and size field and @T where the text
// goes; the format identifier it is written for.
struct Template {
    int format;
    std::string_view text;
};
constexpr Template kTemplates[] = {
    {SUB_FORMAT_SRT, "1\n@N:@N:@N,@N --> @N:@N:@N,@N\n@T\n\n2\n00:00:@N,000 --> 00:@N:00,000\n@T\n"},
    {SUB_FORMAT_VTT, "WEBVTT\n\n@N:@N.@N --> @N:@N:@N.@N line:@N%\n@T\n"},
    {SUB_FORMAT_ASS, "[Events]\nFormat: Layer, Start, End, Style, Text\nDialogue: 0,@N:@N:@N.@N,@N:@N:@N.@N,Default,@T\\N@T\n"},
    {SUB_FORMAT_MICRODVD, "{1}{1}@N\n{@N}{@N}@T|@T\n[@N][@N]{y:i}@T\n"},
    {SUB_FORMAT_SUBVIEWER, "[INFORMATION]\n[SUBTITLE]\n@N:@N:@N.@N,@N:@N:@N.@N\n@T[br]@T\n"},
    {SUB_FORMAT_TTML, "<tt ttp:tickRate=\"@N\" ttp:frameRate=\"@N\" ttp:frameRateMultiplier=\"@N @N\"><body>"
        "<div begin=\"@Ns\"><p begin=\"@Nt\" end=\"@Nf\">@T</p><p begin=\"@N\" dur=\"@Nms\">@T</p>"
        "<p begin=\"@N:@N:@N\" end=\"@Nh\">@T</p><p begin=\"@Nm\" dur=\"@N\">@T</p></div></body></tt>"},
    {SUB_FORMAT_YTXML, "<transcript><text start=\"@N\" dur=\"@N\">@T</text><text start='@N' dur='@N'>@T</text></transcript>"},
    {SUB_FORMAT_LRC, "[ti:x]\n[offset:@N]\n[@N:@N.@N]@T\n[@N:@N]@T\n[@N:@N:@N]@T\n"},
    {SUB_FORMAT_SAMI, "<SAMI><BODY><SYNC Start=@N><P>@T<br>@T<SYNC Start=\"@N\"><P>@T</BODY></SAMI>"},
    {SUB_FORMAT_BILIBILI, "<?xml version=\"1.0\"?><i><d p=\"@N,@N,@N,@N,@N,@N,@N,@N\">@T</d><d p=\"1,1,@N,@N\">@T</d></i>"},
    {SUB_FORMAT_ACFUN, "[{\"c\":\"@N,@N,@N,@N,@N\",\"m\":\"@T\"},{\"c\":\"1,@N,1,@N\",\"m\":\"@T\"}]"},
};

std::string instantiate(std::string_view tmpl, std::string_view number, std::string_view text) {
    return replace_all(replace_all(std::string(tmpl), "@N", number), "@T", text);
}

TEST(Hostile, OneHugeLine) {
    // 8 MiB without a line break: plain letters, and a run of every format's markers.
    constexpr size_t kSize = 8u << 20;
    expect_sound(std::string(kSize, 'a'), SUB_FORMAT_AUTO, nullptr, "8 MiB of one letter");
    const std::string_view unit = "00:00:01,000 --> [00:01.00]{1}{25}<d p=\"1\"><p begin=\"1s\">&amp;\"c\":\"m\"[br]\\N|";
    std::string markers;
    markers.reserve(kSize + unit.size());
    while (markers.size() < kSize) markers += unit;
    every_format(markers, "8 MiB line of markers");
}

TEST(Hostile, UniformAndShuffledBytes) {
    constexpr size_t kSize = 64u << 10;
    std::string shuffled;
    for (size_t i = 0; i < kSize / 256; ++i)
        for (int b = 0; b < 256; ++b) shuffled.push_back(static_cast<char>(b));
    std::mt19937 rng(20240601u); // fixed: a failure must reproduce
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    const std::pair<std::string, std::string> cases[] = {
        {std::string(kSize, '\0'), "NUL bytes"},
        {std::string(kSize, '\xFF'), "0xFF bytes"},
        {shuffled, "every byte value shuffled"},
    };
    for (const auto& [bytes, what] : cases)
        for (const char* enc : cuekit_invariants::kEncodings) every_format(bytes, what, enc);
}

TEST(Hostile, ExtremeNumbersInEveryField) {
    constexpr std::string_view kNumbers[] = {
        "1e999", "-1e999", "nan", "-nan", "inf", "-inf", "infinity", "99999999999999999999", "-99999999999999999999",
        "2147483647", "2147483648", "-2147483648", "4294967296", "1e-999", "0x7fffffff", "-0", "", "1.5e308",
        "3.4e38", "99:99:99", "00000000000000000000000000000000000000001",
    };
    for (const Template& t : kTemplates)
        for (const std::string_view n : kNumbers)
            every_format(instantiate(t.text, n, "text"), "template of format " + std::to_string(t.format) + " with " + std::string(n));
}

TEST(Hostile, DeepJsonNesting) {
    constexpr size_t kDepth = 100000;
    const std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
    const std::string unclosed = std::string(kDepth, '[') + "{\"c\":\"1\",\"m\":\"x\"}";
    std::string objects;
    for (size_t i = 0; i < kDepth; ++i) objects += "{\"a\":";
    objects += "{\"c\":\"1\",\"m\":\"deep\"}" + std::string(kDepth, '}');
    const std::string danmaku_inside = std::string(kDepth, '[') + "{\"c\":\"1\",\"m\":\"x\"}" + std::string(kDepth, ']');
    every_format(arrays, "nested arrays");
    every_format(unclosed, "unclosed arrays");
    every_format(objects, "nested objects");
    every_format(danmaku_inside, "danmaku at the bottom");
}

TEST(Hostile, LongCharacterReferences) {
    constexpr std::string_view kRefs[] = {
        "&#123456789012345678901234567890;", "&#x123456789abcdef0123456789abcdef;", "&#000000000000000000000000000065;",
        "&#x00000000000000000000000001F600;", "&#1114112;", "&#xD800;", "&#0;", "&#;", "&#x;", "&#12345678901234567890",
    };
    for (const Template& t : kTemplates)
        for (const std::string_view ref : kRefs) {
            const std::string text = "a" + std::string(ref) + "b" + std::string(ref);
            every_format(instantiate(t.text, "1", text), "reference " + std::string(ref) + " in format " + std::to_string(t.format));
        }
}

TEST(Hostile, TextsAtTheBufferLimits) {
    // Element and line texts around 65535 bytes; a multi-byte character across the cut.
    for (const size_t n : {65534u, 65535u, 65536u, 65537u, 131072u}) {
        const std::string plain(n, 'x');
        const std::string straddling = std::string(65534, 'x') + "\xE2\x82\xAC" + std::string(n > 65537 ? n - 65537 : 1, 'y');
        for (const Template& t : kTemplates) {
            // The time fields stay readable so that the text is what gets cut.
            const std::string number = t.format == SUB_FORMAT_SUBVIEWER ? "01" : "1";
            for (const auto* text : {&plain, &straddling})
                own_and_auto(instantiate(t.text, number, *text), t.format, std::to_string(n) + "-byte text in format " + std::to_string(t.format));
        }
    }
    // Tag copies and attribute values just past their buffers.
    for (const size_t n : {63u, 64u, 511u, 512u, 1023u, 1024u}) {
        const std::string pad(n, 'z');
        every_format("<tt pad=\"" + pad + "\" ttp:tickRate=\"10\"><p begin=\"1s\" pad=\"" + pad + "\" end=\"2s\">t</p></tt>", "padded ttml");
        every_format("<i><d pad=\"" + pad + "\" p=\"1," + pad + "\">t</d></i>", "padded bilibili");
        every_format("<text start=\"1" + pad + "\" dur=\"2\">t</text>", "padded ytxml");
        every_format("[{\"c\":\"1," + pad + "\",\"m\":\"t\"}]", "padded acfun");
        every_format("[" + pad + ":1]\n[00:01.00]t\n", "padded lrc tag");
        every_format("<SAMI><SYNC Start=" + std::string(n, '9') + "><P>t</SAMI>", "long SAMI start");
    }
}

TEST(Hostile, Utf16OfOddLength) {
    for (const Template& t : kTemplates) {
        const std::string text = instantiate(t.text, "1", "caf\xC3\xA9");
        std::string le, be;
        for (const unsigned char c : text) {
            // Each byte becomes one code unit: hostile enough, and always convertible.
            le += {static_cast<char>(c), '\0'};
            be += {'\0', static_cast<char>(c)};
        }
        const std::string what = "odd UTF-16 of format " + std::to_string(t.format);
        for (const size_t cut : {1u, 3u}) {
            every_format("\xFF\xFE" + le.substr(0, le.size() - cut), what + " (LE mark)");
            every_format("\xFE\xFF" + be.substr(0, be.size() - cut), what + " (BE mark)");
            every_format(le.substr(0, le.size() - cut), what + " (named LE)", "utf-16le");
            every_format(be.substr(0, be.size() - cut), what + " (named BE)", "utf-16be");
            every_format(le.substr(0, le.size() - cut), what + " (named UTF-16)", "utf-16");
        }
        every_format("\xFF\xFE" "A", "mark and one byte");
    }
}

} // namespace
