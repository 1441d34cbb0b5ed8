#include "generator.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>

namespace cuekit::bench {
namespace {

// splitmix64: tiny, fast and identical everywhere, unlike the std distributions whose output
// differs between standard libraries.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n); n > 0. The modulo bias is irrelevant at these ranges.
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool percent(uint32_t p) { return below(100) < p; }
    template <typename T, size_t N>
    const T& pick(const std::array<T, N>& a) { return a[below(static_cast<uint32_t>(N))]; }

private:
    uint64_t s_;
};

// Dialogue in several scripts and lengths, free of anything that the format detection keys on
// (arrows, section names, tag names), so that every file is recognised as what it is.
constexpr std::array<std::string_view, 40> kPhrases{{
    "Where are you going tonight?",
    "Wait for me!",
    "No.",
    "I told you, it's not that simple.",
    "We have to leave before sunrise, or they will find us.",
    "Tom & Jerry were here.",
    "It costs 5 < 7 dollars, \"cheap\".",
    "Ça va très bien, merci.",
    "Où est la gare ? À gauche, après le café.",
    "Größe, Übermut und Straße.",
    "¿Dónde está la estación? ¡Allí!",
    "Señor Núñez, açaí por favor.",
    "Jag förstår inte vad du säger.",
    "Zażółć gęślą jaźń.",
    "Привет, как дела?",
    "Это очень интересно, расскажи ещё.",
    "Мы должны идти.",
    "Καλημέρα σας.",
    "今日はいい天気ですね。",
    "ちょっと待って！",
    "我们明天见。",
    "这是什么意思？",
    "前方高能",
    "哈哈哈哈哈哈",
    "안녕하세요, 반갑습니다.",
    "Let's go! 🚀",
    "I can't believe it 😂😂",
    "Happy birthday 🎂🎉",
    "שלום עולם",
    "مرحبا بالعالم",
    "Okay.",
    "Hmm...",
    "[door creaks]",
    "(laughing)",
    "666666",
    "Nice shot!",
    "Don't look back.",
    "She said: 'never again'.",
    "Mr. O'Brien — the 3rd floor.",
    "…and then what?",
}};

// The same kind of text, written in CP1252, where most of these bytes are no valid UTF-8.
constexpr std::array<std::string_view, 10> kPhrasesCp1252{{
    "Ca va tr\xE8s bien, merci.",
    "Caf\xE9" " cr\xE8me et cr\xEApes.",
    "\x93" "Quoted\x94" " text, isn\x92t it?",
    "Gr\xF6\xDF" "e und \xDC" "bermut.",
    "\xBF" "D\xF3nde est\xE1?",
    "Se\xF1or N\xFA\xF1" "ez.",
    "It costs 5 \x80 \x96 cheap.",
    "na\xEFve fa\xE7" "ade",
    "\xC0 bient\xF4t !",
    "Plain ASCII line.",
}};

constexpr int64_t kMaxMs = 95LL * 3600 * 1000; // stays below 100 hours and far below int32

void append_u(std::string& out, uint64_t v, int width = 1) {
    char buf[24];
    int n = std::snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(v));
    out.append(buf, static_cast<size_t>(n));
}

// HH:MM:SS<sep>fff with `digits` fraction digits (3 milliseconds, 2 centiseconds).
void append_clock(std::string& out, int64_t ms, char sep, int digits, int hour_width = 2) {
    append_u(out, static_cast<uint64_t>(ms / 3600000), hour_width);
    out += ':';
    append_u(out, static_cast<uint64_t>(ms / 60000 % 60), 2);
    out += ':';
    append_u(out, static_cast<uint64_t>(ms / 1000 % 60), 2);
    out += sep;
    append_u(out, static_cast<uint64_t>(digits == 3 ? ms % 1000 : ms % 1000 / 10), digits);
}

// Seconds with `decimals` fraction digits, as the XML and JSON formats write them.
void append_seconds(std::string& out, int64_t ms, int decimals) {
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, static_cast<double>(ms) / 1000.0);
    out.append(buf, static_cast<size_t>(n));
}

void append_xml_escaped(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
}

void append_json_escaped(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
}

// The output under construction: a header, cues that are appended only while they fit
// together with the footer, then the footer and padding up to the exact size.
class Gen {
public:
    Gen(uint64_t seed, size_t size)
        : rng(seed), size_(size),
          ms_per_byte_(std::min(40.0, static_cast<double>(kMaxMs) / static_cast<double>(std::max<size_t>(size, 1)))) {
        out.reserve(size);
    }

    Rng rng;
    std::string out;
    std::string cue; // the cue being built

    // A start time that grows with the position in the file, so that any size keeps its times
    // increasing and inside the range every format can write.
    int64_t next_start(bool allow_equal = false) {
        auto t = static_cast<int64_t>(1000.0 + static_cast<double>(out.size()) * ms_per_byte_);
        t += rng.below(200);
        int64_t floor = allow_equal ? last_start_ : last_start_ + 1;
        last_start_ = std::max(t, floor);
        return last_start_;
    }
    // A display duration, shortened in very large files so cues do not overlap by hundreds.
    int64_t duration() {
        double scale = std::min(1.0, ms_per_byte_ / 40.0);
        return std::max<int64_t>(40, static_cast<int64_t>((800 + rng.below(4200)) * scale));
    }
    double ms_per_byte() const { return ms_per_byte_; }

    // One to three phrases; mostly one or two, as in real subtitles.
    std::string_view line() {
        scratch_.clear();
        uint32_t n = 1 + (rng.percent(35) ? 1 : 0) + (rng.percent(10) ? 1 : 0);
        for (uint32_t i = 0; i < n; ++i) {
            if (i) scratch_ += ' ';
            scratch_ += rng.pick(kPhrases);
        }
        return scratch_;
    }
    uint32_t line_count() { return rng.percent(55) ? 1 : (rng.percent(80) ? 2 : 3); }

    bool commit(size_t footer_size) {
        if (out.size() + cue.size() + footer_size > size_) return false;
        out += cue;
        return true;
    }
    // Builds pieces with `make` (into a cleared buffer) and appends them while they fit in
    // front of a footer of `footer_size` bytes.
    template <typename Make>
    void repeat(size_t footer_size, Make make) {
        do {
            cue.clear();
            make(cue);
        } while (commit(footer_size));
    }
    bool full(size_t footer_size) const { return out.size() + footer_size >= size_; }
    std::string finish(std::string_view footer, char pad) {
        out += footer;
        if (out.size() > size_) out.resize(size_); // only sizes below the header's own size
        out.append(size_ - out.size(), pad);
        return std::move(out);
    }

private:
    size_t size_;
    double ms_per_byte_;
    int64_t last_start_ = 0;
    std::string scratch_;
};

// ---------------------------------------------------------------------------------------
// The eleven formats

// A SubRip cue number and timing line, without its line end.
void append_srt_timing(Gen& g, std::string& c, int number) {
    const int64_t s = g.next_start(), e = s + g.duration();
    append_u(c, static_cast<uint64_t>(number));
    c += "\r\n";
    append_clock(c, s, ',', 3);
    c += " --> ";
    append_clock(c, e, ',', 3);
}

std::string gen_srt(Gen& g) {
    int n = 1;
    g.repeat(0, [&](std::string& c) {
        append_srt_timing(g, c, n++);
        if (g.rng.percent(2)) c += "  X1:40 X2:600 Y1:20 Y2:50";
        c += "\r\n";
        if (g.rng.percent(3)) c += "{\\an8}";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            auto l = g.line();
            if (g.rng.percent(12)) {
                c += "<i>";
                c += l;
                c += "</i>";
            } else if (g.rng.percent(3)) {
                c += "<font color=\"#ffff00\">";
                c += l;
                c += "</font>";
            } else {
                c += l;
            }
            c += "\r\n";
        }
        c += "\r\n";
    });
    return g.finish("", '\n');
}

std::string gen_vtt(Gen& g) {
    g.out += "WEBVTT - generated\n\nNOTE\nThis file was generated for benchmarks.\n\n"
             "STYLE\n::cue {\n  color: yellow;\n}\n\n";
    int n = 1;
    g.repeat(0, [&](std::string& c) {
        int64_t s = g.next_start(), e = s + g.duration();
        if (g.rng.percent(2)) c += "NOTE a comment between cues\n\n";
        if (g.rng.percent(40)) {
            c += "cue-";
            append_u(c, static_cast<uint64_t>(n));
            c += '\n';
        }
        ++n;
        append_clock(c, s, '.', 3);
        c += " --> ";
        append_clock(c, e, '.', 3);
        if (g.rng.percent(15)) c += " align:start position:10% line:85%";
        c += '\n';
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (g.rng.percent(10)) c += "<v Narrator>";
            if (g.rng.percent(10)) {
                c += "<i>";
                c += g.line();
                c += "</i>";
            } else if (g.rng.percent(5)) {
                c += "<c.yellow>";
                c += g.line();
                c += "</c> &amp; more";
            } else {
                c += g.line();
            }
            c += '\n';
        }
        c += '\n';
    });
    return g.finish("", '\n');
}

std::string gen_ass(Gen& g) {
    g.out += "[Script Info]\n; generated for benchmarks\nTitle: Benchmark\nScriptType: v4.00+\n"
             "WrapStyle: 0\nPlayResX: 1920\nPlayResY: 1080\nScaledBorderAndShadow: yes\n\n"
             "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
             "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
             "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
             "Style: Default,Arial,54,&H00FFFFFF,&H000000FF,&H00000000,&H64000000,0,0,0,0,100,100,0,0,1,2,1,2,60,60,40,1\n"
             "Style: Top,Arial,48,&H0000FFFF,&H000000FF,&H00000000,&H64000000,-1,0,0,0,100,100,0,0,1,2,1,8,60,60,40,1\n\n"
             "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    constexpr std::array<std::string_view, 6> kOverrides{{
        "{\\i1}", "{\\b1}", "{\\pos(960,80)}", "{\\c&H00FFFF&}", "{\\fad(200,300)}", "{\\an8\\fs40}",
    }};
    g.repeat(0, [&](std::string& c) {
        int64_t s = g.next_start(), e = s + g.duration();
        c += g.rng.percent(3) ? "Comment: 0," : "Dialogue: 0,";
        append_clock(c, s, '.', 2, 1);
        c += ',';
        append_clock(c, e, '.', 2, 1);
        c += g.rng.percent(15) ? ",Top,Alice,0,0,0,," : ",Default,,0,0,0,,";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (i) c += "\\N";
            if (g.rng.percent(20)) c += g.rng.pick(kOverrides);
            c += g.line();
            if (g.rng.percent(5)) c += "{\\i0}\\h!";
        }
        c += '\n';
    });
    return g.finish("", '\n');
}

std::string gen_microdvd(Gen& g) {
    constexpr double kFps = 23.976;
    g.out += "{1}{1}23.976\n";
    g.repeat(0, [&](std::string& c) {
        int64_t s = g.next_start(), e = s + g.duration();
        c += '{';
        append_u(c, static_cast<uint64_t>(static_cast<double>(s) * kFps / 1000.0));
        c += "}{";
        append_u(c, static_cast<uint64_t>(static_cast<double>(e) * kFps / 1000.0) + 1);
        c += '}';
        if (g.rng.percent(10)) c += "{y:i}";
        if (g.rng.percent(3)) c += "{C:$00FFFF}";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (i) c += '|';
            c += g.line();
        }
        c += '\n';
    });
    return g.finish("", '\n');
}

std::string gen_subviewer(Gen& g) {
    g.out += "[INFORMATION]\r\n[TITLE]Benchmark\r\n[AUTHOR]generator\r\n[SOURCE]\r\n[PRG]\r\n[FILEPATH]\r\n"
             "[DELAY]0\r\n[CD TRACK]0\r\n[COMMENT]\r\n[END INFORMATION]\r\n[SUBTITLE]\r\n"
             "[COLF]&HFFFFFF,[STYLE]bd,[SIZE]18,[FONT]Arial\r\n";
    g.repeat(0, [&](std::string& c) {
        int64_t s = g.next_start(), e = s + g.duration();
        append_clock(c, s, '.', 2);
        c += ',';
        append_clock(c, e, '.', 2);
        c += "\r\n";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (i) c += g.rng.percent(10) ? "[BR]" : "[br]";
            c += g.line();
        }
        c += "\r\n\r\n";
    });
    return g.finish("", '\n');
}

void ttml_paragraph(Gen& g, std::string& c, const char* indent) {
    int64_t s = g.next_start(), e = s + g.duration();
    c += indent;
    c += "<p begin=\"";
    append_clock(c, s, '.', 3);
    if (g.rng.percent(20)) {
        c += "\" dur=\"";
        append_seconds(c, e - s, 3);
        c += "s\"";
    } else {
        c += "\" end=\"";
        append_clock(c, e, '.', 3);
        c += '"';
    }
    c += g.rng.percent(20) ? " region=\"top\" style=\"s2\">" : " style=\"s1\">";
    for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
        if (i) c += "<br/>\n";
        if (g.rng.percent(15)) {
            c += "<span tts:fontStyle=\"italic\">";
            append_xml_escaped(c, g.line());
            c += "</span>";
        } else {
            append_xml_escaped(c, g.line());
        }
        if (g.rng.percent(5)) c += " &#233;t&#xE9; &amp; co";
    }
    c += "</p>\n";
}

constexpr std::string_view kTtmlHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<tt xmlns=\"http://www.w3.org/ns/ttml\" xmlns:tts=\"http://www.w3.org/ns/ttml#styling\" "
    "xmlns:ttp=\"http://www.w3.org/ns/ttml#parameter\" ttp:timeBase=\"media\" xml:lang=\"en\">\n"
    "  <head>\n    <styling>\n      <style xml:id=\"s1\" tts:color=\"white\" tts:fontSize=\"100%\"/>\n"
    "      <style xml:id=\"s2\" tts:color=\"yellow\"/>\n    </styling>\n"
    "    <layout>\n      <region xml:id=\"top\" tts:origin=\"10% 10%\" tts:extent=\"80% 20%\"/>\n"
    "    </layout>\n  </head>\n  <body>\n";

std::string gen_ttml(Gen& g) {
    g.out += kTtmlHead;
    constexpr std::string_view kFooter = "    </div>\n  </body>\n</tt>\n";
    g.out += "    <div>\n";
    for (int n = 1;; ++n) {
        auto& c = g.cue;
        c.clear();
        if (n % 200 == 0) c += "    </div>\n    <div>\n"; // chapters, as authoring tools write them
        ttml_paragraph(g, c, "      ");
        if (!g.commit(kFooter.size())) break;
    }
    return g.finish(kFooter, '\n');
}

std::string gen_ytxml(Gen& g) {
    g.out += "<?xml version=\"1.0\" encoding=\"utf-8\" ?><transcript>\n";
    constexpr std::string_view kFooter = "</transcript>\n";
    g.repeat(kFooter.size(), [&](std::string& c) {
        int64_t s = g.next_start(), d = g.duration();
        c += "<text start=\"";
        append_seconds(c, s, g.rng.percent(50) ? 2 : 3);
        c += "\" dur=\"";
        append_seconds(c, d, 2);
        c += "\">";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (i) c += '\n';
            append_xml_escaped(c, g.line());
        }
        c += "</text>\n";
    });
    return g.finish(kFooter, '\n');
}

void append_lrc_tag(std::string& c, int64_t ms) {
    c += '[';
    append_u(c, static_cast<uint64_t>(ms / 60000), 2);
    c += ':';
    append_u(c, static_cast<uint64_t>(ms / 1000 % 60), 2);
    c += '.';
    append_u(c, static_cast<uint64_t>(ms % 1000 / 10), 2);
    c += ']';
}

constexpr std::string_view kLrcHead = "[ti:Benchmark Song]\n[ar:Generator]\n[al:Numbers]\n[by:cuekit]\n[offset:0]\n\n";

std::string gen_lrc(Gen& g) {
    g.out += kLrcHead;
    g.repeat(0, [&](std::string& c) {
        int64_t s = g.next_start();
        append_lrc_tag(c, s);
        if (g.rng.percent(8)) append_lrc_tag(c, s + 60000 + g.rng.below(60000)); // a repeated chorus
        if (!g.rng.percent(4)) c += g.line(); // a bare tag ends the previous lyric
        c += '\n';
    });
    return g.finish("", '\n');
}

constexpr std::string_view kSamiHead =
    "<SAMI>\r\n<HEAD>\r\n<TITLE>Benchmark</TITLE>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
    "P { margin-left:8pt; margin-right:8pt; font-size:20pt; text-align:center; font-family:Arial; color:white; }\r\n"
    ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n";
constexpr std::string_view kSamiFooter = "</BODY>\r\n</SAMI>\r\n";

std::string gen_sami(Gen& g) {
    g.out += kSamiHead;
    g.repeat(kSamiFooter.size(), [&](std::string& c) {
        int64_t s = g.next_start();
        c += "<SYNC Start=";
        append_u(c, static_cast<uint64_t>(s));
        c += "><P Class=ENCC>";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (i) c += g.rng.percent(50) ? "<br>" : "<BR/>\r\n";
            if (g.rng.percent(12)) {
                c += "<font color=\"#ffff00\">";
                append_xml_escaped(c, g.line());
                c += "</font>";
            } else if (g.rng.percent(6)) {
                c += "<i>";
                append_xml_escaped(c, g.line());
                c += "</i>";
            } else {
                append_xml_escaped(c, g.line());
            }
        }
        c += "\r\n";
        if (g.rng.percent(40)) { // clears the screen until the next caption
            c += "<SYNC Start=";
            append_u(c, static_cast<uint64_t>(g.next_start()));
            c += "><P Class=ENCC>&nbsp;\r\n";
        }
    });
    return g.finish(kSamiFooter, '\n');
}

constexpr std::string_view kBiliHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.example.com</chatserver>"
    "<chatid>123456789</chatid><mission>0</mission><maxlimit>8000</maxlimit><state>0</state>"
    "<real_name>0</real_name><source>k-v</source>\n";
constexpr std::string_view kBiliFooter = "</i>\n";

void bili_element(Gen& g, std::string& c, bool closed) {
    constexpr std::array<uint32_t, 6> kColours{{16777215, 16777215, 16777215, 16711680, 16776960, 65280}};
    constexpr std::array<int, 5> kModes{{1, 1, 1, 4, 5}};
    int64_t s = g.next_start(true);
    c += "<d p=\"";
    append_seconds(c, s, 5);
    c += ',';
    append_u(c, static_cast<uint64_t>(g.rng.pick(kModes)));
    c += g.rng.percent(90) ? ",25," : ",18,";
    append_u(c, g.rng.pick(kColours));
    c += ',';
    append_u(c, 1600000000 + g.rng.below(100000000));
    c += ",0,";
    char hash[12];
    int n = std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(g.rng.next()));
    c.append(hash, static_cast<size_t>(n));
    c += ',';
    append_u(c, g.rng.next() % 100000000000ULL);
    c += "\">";
    append_xml_escaped(c, g.line());
    if (g.rng.percent(3)) c += " &lt;3";
    c += closed ? "</d>\n" : "\n";
}

std::string gen_bilibili(Gen& g, bool closed) {
    g.out += kBiliHead;
    g.repeat(kBiliFooter.size(), [&](std::string& c) { bili_element(g, c, closed); });
    return g.finish(kBiliFooter, '\n');
}

std::string gen_acfun(Gen& g) {
    // Comments nested two arrays deep inside an envelope object, as the site's files come.
    g.out += "{\"result\":0,\"host-name\":\"generator\",\"danmakus\":[[";
    constexpr std::string_view kFooter = "],[],[]]}\n";
    constexpr std::array<uint32_t, 4> kColours{{16777215, 16777215, 16744192, 65535}};
    bool first = true;
    g.repeat(kFooter.size(), [&](std::string& c) {
        if (!first) c += ',';
        int64_t s = g.next_start(true);
        c += "{\"c\":\"";
        append_seconds(c, s, 3);
        c += ',';
        append_u(c, g.rng.pick(kColours));
        c += g.rng.percent(90) ? ",1," : ",5,";
        c += g.rng.percent(90) ? "25," : "18,";
        append_u(c, 10000000 + g.rng.below(90000000));
        c += ',';
        append_u(c, 1500000000000ULL + g.rng.next() % 100000000000ULL);
        char id[12];
        int n = std::snprintf(id, sizeof id, ",%08x", static_cast<unsigned>(g.rng.next()));
        c.append(id, static_cast<size_t>(n));
        c += "\",\"m\":\"";
        std::string_view l = g.line();
        append_json_escaped(c, l);
        if (g.rng.percent(5)) c += "\\u00e9\\n\\/\\\"";
        c += "\"}";
        first = false; // every later piece starts with its separating comma
    });
    return g.finish(kFooter, '\n');
}

// ---------------------------------------------------------------------------------------
// Adversarial shapes

std::string gen_ttml_nodiv(Gen& g) {
    g.out += kTtmlHead;
    constexpr std::string_view kFooter = "  </body>\n</tt>\n";
    g.repeat(kFooter.size(), [&](std::string& c) { ttml_paragraph(g, c, "    "); });
    return g.finish(kFooter, '\n');
}

std::string gen_ytxml_unclosed(Gen& g) {
    g.out += "<?xml version=\"1.0\" encoding=\"utf-8\" ?><transcript>\n";
    constexpr std::string_view kFooter = "</transcript>\n";
    g.repeat(kFooter.size(), [&](std::string& c) {
        c += "<text start=\"";
        append_seconds(c, g.next_start(), 2);
        c += "\" dur=\"";
        append_seconds(c, g.duration(), 2);
        c += "\">";
        append_xml_escaped(c, g.line());
        c += '\n';
    });
    return g.finish(kFooter, '\n');
}

// Every time tag earlier than the one before, in runs of equal times, many tags per line.
std::string gen_lrc_reverse(Gen& g, size_t size) {
    g.out += kLrcHead;
    double per_byte = std::min(40.0, static_cast<double>(kMaxMs) / static_cast<double>(std::max<size_t>(size, 1)));
    g.repeat(0, [&](std::string& c) {
        uint32_t tags = 4 + g.rng.below(17);
        auto pos = static_cast<double>(g.out.size());
        // 2 s steps between lines and three tags per time within a line make long runs of
        // equal times.
        auto base = static_cast<int64_t>((static_cast<double>(kMaxMs) - pos * per_byte) / 2000.0) * 2000;
        for (uint32_t i = 0; i < tags; ++i)
            append_lrc_tag(c, std::max<int64_t>(base - static_cast<int64_t>(i / 3) * 500, 0));
        c += g.line();
        c += '\n';
    });
    return g.finish("", '\n');
}

std::string gen_sami_many(Gen& g) {
    g.out += kSamiHead;
    g.repeat(kSamiFooter.size(), [&](std::string& c) {
        c += "<SYNC Start=";
        append_u(c, static_cast<uint64_t>(g.next_start()));
        c += g.rng.percent(50) ? "><P Class=ENCC>&nbsp;\r\n" : "><P Class=ENCC>x<br>y\r\n";
    });
    return g.finish(kSamiFooter, '\n');
}

// One SYNC block that holds the whole file: the per-block cleaning sees everything at once.
std::string gen_sami_huge(Gen& g) {
    g.out += kSamiHead;
    g.out += "<SYNC Start=1000><P Class=ENCC>\r\n";
    g.repeat(kSamiFooter.size(), [&](std::string& c) {
        switch (g.rng.below(6)) {
        case 0: c += "<br>"; break;
        case 1: c += "<font color=\"#ffff00\">"; break;
        case 2: c += "</font></p>"; break;
        case 3: c += "  \t "; break;
        default: break;
        }
        append_xml_escaped(c, g.line());
        c += g.rng.percent(30) ? "\r\n" : " ";
    });
    return g.finish(kSamiFooter, '\n');
}

// One cue whose block never ends: every line of the file is a text line of it.
std::string gen_srt_oneblock(Gen& g) {
    g.out += "1\r\n00:00:01,000 --> 90:00:00,000\r\n";
    g.repeat(0, [&](std::string& c) {
        c += g.line();
        c += "\r\n";
    });
    return g.finish("", ' ');
}

// Plain words without any line break and without anything a detector keys on: every parser
// of the fallback order gets a single line as long as the file.
std::string gen_oneline(Gen& g) {
    g.repeat(0, [&](std::string& c) {
        c += g.line();
        c += ' ';
    });
    return g.finish("", ' ');
}

std::string gen_cp1252(Gen& g) {
    int n = 1;
    g.repeat(0, [&](std::string& c) {
        append_srt_timing(g, c, n++);
        c += "\r\n";
        for (uint32_t i = 0, k = g.line_count(); i < k; ++i) {
            if (g.rng.percent(10)) c += "<i>";
            c += g.rng.pick(kPhrasesCp1252);
            c += "\r\n";
        }
        c += "\r\n";
    });
    return g.finish("", '\n');
}

struct Entry {
    Shape shape;
    std::function<std::string(Gen&, size_t)> make;
};

const std::array<Entry, 20>& table() {
    static const std::array<Entry, 20> t{{
        {{"srt", 0, ".srt", false}, [](Gen& g, size_t) { return gen_srt(g); }},
        {{"vtt", 1, ".vtt", false}, [](Gen& g, size_t) { return gen_vtt(g); }},
        {{"ass", 2, ".ass", false}, [](Gen& g, size_t) { return gen_ass(g); }},
        {{"microdvd", 3, ".sub", false}, [](Gen& g, size_t) { return gen_microdvd(g); }},
        {{"subviewer", 4, ".sub", false}, [](Gen& g, size_t) { return gen_subviewer(g); }},
        {{"ttml", 5, ".ttml", false}, [](Gen& g, size_t) { return gen_ttml(g); }},
        {{"ytxml", 6, ".xml", false}, [](Gen& g, size_t) { return gen_ytxml(g); }},
        {{"lrc", 7, ".lrc", false}, [](Gen& g, size_t) { return gen_lrc(g); }},
        {{"sami", 8, ".smi", false}, [](Gen& g, size_t) { return gen_sami(g); }},
        {{"bilibili", 9, ".xml", false}, [](Gen& g, size_t) { return gen_bilibili(g, true); }},
        {{"acfun", 10, ".json", false}, [](Gen& g, size_t) { return gen_acfun(g); }},
        {{"ttml-nodiv", 5, ".ttml", true}, [](Gen& g, size_t) { return gen_ttml_nodiv(g); }},
        {{"bilibili-unclosed", 9, ".xml", true}, [](Gen& g, size_t) { return gen_bilibili(g, false); }},
        {{"ytxml-unclosed", 6, ".xml", true}, [](Gen& g, size_t) { return gen_ytxml_unclosed(g); }},
        {{"lrc-reverse", 7, ".lrc", true}, [](Gen& g, size_t n) { return gen_lrc_reverse(g, n); }},
        {{"sami-many", 8, ".smi", true}, [](Gen& g, size_t) { return gen_sami_many(g); }},
        {{"sami-huge", 8, ".smi", true}, [](Gen& g, size_t) { return gen_sami_huge(g); }},
        {{"srt-oneblock", 0, ".srt", true}, [](Gen& g, size_t) { return gen_srt_oneblock(g); }},
        {{"oneline", -1, ".txt", true, false}, [](Gen& g, size_t) { return gen_oneline(g); }},
        {{"cp1252", 0, ".srt", true}, [](Gen& g, size_t) { return gen_cp1252(g); }},
    }};
    return t;
}

const std::array<Shape, 20>& shape_rows() {
    static const std::array<Shape, 20> rows = [] {
        std::array<Shape, 20> r{};
        for (size_t i = 0; i < r.size(); ++i) r[i] = table()[i].shape;
        return r;
    }();
    return rows;
}

} // namespace

std::span<const Shape> shapes() { return shape_rows(); }

const Shape* find_shape(std::string_view name) {
    for (const auto& s : shape_rows())
        if (s.name == name) return &s;
    return nullptr;
}

std::string generate(std::string_view shape, size_t size, uint64_t seed) {
    for (const auto& e : table()) {
        if (e.shape.name != shape) continue;
        // Each shape gets its own stream, so adding a shape never changes the others' bytes.
        uint64_t mixed = seed;
        for (char ch : shape) mixed = (mixed ^ static_cast<unsigned char>(ch)) * 0x100000001b3ULL;
        Gen g(mixed, size);
        return e.make(g, size);
    }
    return {};
}

namespace {

// UTF-16 of valid UTF-8 text (what the generator writes), with a byte-order mark.
std::string to_utf16(std::string_view s, bool big_endian) {
    std::string out;
    out.reserve(s.size() * 2 + 2);
    const auto unit = [&](uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += big_endian ? hi : lo;
        out += big_endian ? lo : hi;
    };
    unit(0xFEFF);
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
        for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

} // namespace

CorpusFile corpus_file(size_t index, uint64_t seed) {
    Rng rng(seed ^ (static_cast<uint64_t>(index) * 0x9e3779b97f4a7c15ULL));
    std::string_view shape = shape_rows()[index % 11].name;
    const double u = static_cast<double>(rng.next() >> 11) / 9007199254740992.0; // [0, 1)
    size_t size = static_cast<size_t>(5120.0 * std::pow(40.0, u));
    const uint32_t enc = rng.below(100);
    std::string_view encoding = enc < 75 ? "utf8" : enc < 85 ? "utf8bom" : enc < 95 ? "utf16le" : "utf16be";
    if (shape == "srt" && rng.percent(30)) {
        shape = "cp1252";
        encoding = "cp1252";
    }
    const bool utf16 = encoding.starts_with("utf16");
    // UTF-16 at most doubles the text; line feeds at the end make up the rest of the size.
    std::string bytes = generate(shape, utf16 ? size / 2 - 1 : size, rng.next());
    if (encoding == "utf8bom") bytes.insert(0, "\xEF\xBB\xBF");
    if (utf16) {
        bytes = to_utf16(bytes, encoding == "utf16be");
        while (bytes.size() + 2 <= size) bytes.append(encoding == "utf16be" ? std::string_view("\0\n", 2) : std::string_view("\n\0", 2));
    }

    const Shape* row = find_shape(shape);
    char name[64];
    std::snprintf(name, sizeof name, "%03zu/%05zu-", index / 100, index);
    std::string path = name;
    path.append(shape).append("-").append(encoding).append(row->extension);
    return {std::move(path), std::move(bytes)};
}

} // namespace cuekit::bench
