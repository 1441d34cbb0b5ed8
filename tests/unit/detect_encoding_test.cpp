// The "detect" encoding on real-language subtitle samples in legacy encodings, and the order
// of its rules: marks, UTF-16 by zero bytes, valid UTF-8, then the detector.
#include "test_util.hpp"

#include <cuekit.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string read_sample(const std::string& name) {
    std::ifstream f(std::string(CUEKIT_SOURCE_DIR "/tests/encoding/") + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The UTF-8 text in another encoding, whole or not at all.
std::string encode(const std::string& utf8, const char* to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {}; // NOLINT(performance-no-int-to-ptr)
    std::string out(utf8.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inleft = utf8.size();
    char* o = out.data();
    size_t oleft = out.size();
    const size_t rc = iconv(cd, &in, &inleft, &o, &oleft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return {};
    out.resize(out.size() - oleft);
    return out;
}

// The file and runs of ten cues from it: real subtitle files are rarely shorter.
std::vector<std::string> pieces(const std::string& file) {
    std::vector<std::string> out{file};
    size_t from = 0;
    while (from < file.size()) {
        size_t to = from;
        for (int cue = 0; cue < 10 && to != std::string::npos; ++cue) {
            to = file.find("\n\n", to);
            if (to != std::string::npos) to += 2;
        }
        if (to == std::string::npos) to = file.size();
        out.push_back(file.substr(from, to - from));
        from = to;
    }
    return out;
}

struct Decoded {
    int rc;
    std::string text;
    std::vector<std::string> warnings;
};

Decoded decode(const std::string& bytes, const char* encoding = "detect") {
    sub_clear();
    Decoded d{sub_decode_to_utf8(bytes.data(), bytes.size(), encoding), {}, {}};
    if (g_sub.text) d.text.assign(g_sub.text, static_cast<size_t>(g_sub.text_len));
    for (int i = 0; i < sub_warning_count(); ++i) d.warnings.emplace_back(sub_warning(i));
    sub_clear();
    return d;
}

TEST(DetectEncoding, RealLanguageSamples) {
    const struct {
        const char* sample;
        const char* encoding;
    } sets[] = {
        {"cs.srt", "CP1250"},         {"ru.srt", "CP1251"},   {"ru.srt", "KOI8-R"},   {"fr.srt", "CP1252"},
        {"ja.srt", "SHIFT_JIS"},      {"zh-hans.srt", "GBK"}, {"zh-hans.srt", "GB18030"},
        {"zh-hant.srt", "BIG5"},      {"ko.srt", "CP949"},    {"cs.srt", "UTF-16LE"}, {"ja.srt", "UTF-16LE"},
        {"zh-hans.srt", "UTF-16BE"},  {"ru.srt", "UTF-16BE"}, {"ko.srt", "UTF-16LE"},
    };
    int total = 0, right = 0;
    for (const auto& set : sets) {
        const std::string utf8 = read_sample(set.sample);
        ASSERT_FALSE(utf8.empty()) << set.sample;
        for (const std::string& piece : pieces(utf8)) {
            const std::string bytes = encode(piece, set.encoding);
            ASSERT_FALSE(bytes.empty()) << set.sample << " in " << set.encoding;
            const Decoded d = decode(bytes);
            ++total;
            if (d.rc == 0 && d.text == piece) {
                ++right;
                EXPECT_EQ(d.warnings.size(), 1u);
                EXPECT_EQ(d.warnings.at(0).rfind("encoding: detected ", 0), 0u) << d.warnings.at(0);
            } else {
                std::printf("wrong: %s in %s (%zu bytes): %s\n", set.sample, set.encoding, bytes.size(),
                            d.warnings.empty() ? "no warning" : d.warnings[0].c_str());
            }
        }
    }
    std::printf("detect: %d of %d samples decoded right\n", right, total);
    EXPECT_GE(right * 100, total * 95);
}

TEST(DetectEncoding, RulesBeforeTheDetector) {
    const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\n";
    const std::string utf8 = srt + "Caf\xC3\xA9 cr\xC3\xA8me\n";
    const struct {
        const char* name;
        std::string bytes;
        const char* encoding;
        std::string text;
        std::vector<std::string> warnings;
    } cases[] = {
        // Marks decide first, and valid UTF-8 is taken as it is: neither is announced.
        {"UTF-8 mark", "\xEF\xBB\xBF" + utf8, "detect", utf8, {}},
        {"UTF-16 mark", "\xFF\xFE" + encode(utf8, "UTF-16LE"), "Detect", utf8, {}},
        {"valid UTF-8", utf8, "DETECT", utf8, {}},
        {"ASCII", srt, "detect", srt, {}},
        // UTF-16 without a mark is told by its zero bytes, in either order.
        {"UTF-16LE, no mark", encode(utf8, "UTF-16LE"), "detect", utf8, {"encoding: detected UTF-16LE"}},
        {"UTF-16BE, no mark", encode(utf8, "UTF-16BE"), "detect", utf8, {"encoding: detected UTF-16BE"}},
        // The detector sees the text that needs deciding, however long the ASCII before it.
        {"late text", encode(std::string(200000, ' ') + "\n" + read_sample("ru.srt"), "KOI8-R"), "detect",
         std::string(200000, ' ') + "\n" + read_sample("ru.srt"), {"encoding: detected KOI8-R"}},
        // Without the name nothing changes: not UTF-8 is CP1252.
        {"no name", encode(read_sample("ru.srt"), "CP1251"), nullptr, "",
         {"encoding: auto-detected as CP1252 (invalid UTF-8)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = decode(c.bytes, c.encoding);
        ASSERT_EQ(d.rc, 0);
        if (!c.text.empty()) {
            EXPECT_EQ(d.text, c.text);
        }
        EXPECT_EQ(d.warnings, c.warnings);
    }
}

TEST(DetectEncoding, ParseWithDetect) {
    const std::string bytes = encode(read_sample("ru.srt"), "KOI8-R");
    ASSERT_EQ(cuekit_test::parse(bytes, -1, "detect"), 0);
    EXPECT_EQ(cuekit_test::cues().at(0).lines, std::vector<std::string>{"Доброе утро, Анна Сергеевна. Вы сегодня рано."});
    ASSERT_EQ(sub_warning_count(), 1);
    EXPECT_STREQ(sub_warning(0), "encoding: detected KOI8-R");
}

} // namespace
