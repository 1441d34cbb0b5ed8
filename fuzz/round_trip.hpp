// What cuekit writes, cuekit must read back to the same cues within the rounding each target
// has: shared by the write fuzz harness and the round-trip tests. Returns a description of the
// first difference, or an empty string.
#pragma once

#include "writers/writer.hpp"

#include <cuekit.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace cuekit_round_trip {

struct Cue {
    int64_t start, end;
    std::string text;
};

// A cue's text as every target keeps it: markup removed, ill-formed UTF-8 as U+FFFD, line
// breaks (U+2028 too) between lines, word joiners and control characters gone, whitespace runs
// (no-break spaces too) as one space, lines trimmed, empty lines dropped.
inline std::string normal_text(const std::vector<std::string_view>& lines, int format) {
    cuekit::MarkupWriter plain(cuekit::source_markup(format), cuekit::Markup::Plain, true, format);
    std::string all, whole;
    for (const std::string_view l : lines) {
        // Ill-formed parts are U+FFFD before markup is read: a tag between the bytes of a
        // character does not join them.
        whole.clear();
        for (size_t k = 0; k < l.size();) {
            size_t bad = 0;
            const size_t n = cuekit::utf8_sequence(l, k, bad);
            whole.append(n ? l.substr(k, n) : "\xEF\xBF\xBD");
            k += n ? n : bad;
        }
        plain.line(whole, all);
        all += '\n';
    }
    std::string out, line;
    bool space = false;
    const auto end_line = [&] {
        if (!line.empty()) out += (out.empty() ? "" : "\n") + line;
        line.clear();
        space = false;
    };
    for (size_t k = 0; k < all.size();) {
        const std::string_view rest = std::string_view(all).substr(k);
        size_t bad = 0;
        const size_t n = cuekit::utf8_sequence(all, k, bad);
        const std::string_view ch = n ? rest.substr(0, n) : "\xEF\xBF\xBD";
        k += n ? n : bad;
        if (ch == "\xE2\x81\xA0" || ch == "\xEF\xBF\xBE" || ch == "\xEF\xBF\xBF") continue;
        if (ch == "\n" || ch == "\r" || ch == "\xE2\x80\xA8") {
            end_line();
        } else if (ch == " " || ch == "\t" || ch == "\xC2\xA0") {
            space = !line.empty();
        } else if (ch.size() > 1 || static_cast<unsigned char>(ch[0]) >= 0x20) {
            if (space) line += ' ';
            space = false;
            line += ch;
        }
    }
    end_line();
    return out;
}

// How a target holds times: in `unit` milliseconds; whether it holds ends and lengthens cues
// without one; whether it writes cues by start.
struct Target {
    std::string_view name;
    cuekit::Format reads_as;
    int64_t unit;
    bool ends, lengthens, sorted;
};
inline constexpr std::array<Target, 5> kTargets{{
    {"srt", cuekit::Format::Srt, 1, true, false, false},
    {"vtt", cuekit::Format::Vtt, 1, true, false, false},
    {"ass", cuekit::Format::Ass, 10, true, true, false},
    {"ttml", cuekit::Format::Ttml, 1, true, true, false},
    {"lrc", cuekit::Format::Lrc, 10, false, false, true},
}};

inline const Target* find(std::string_view name) {
    for (const Target& t : kTargets)
        if (t.name == name) return &t;
    return nullptr;
}

// The cues `source` should read back as from target `t`.
template <typename Source>
std::vector<Cue> expected(const Source& src, const Target& t) {
    struct Item {
        int64_t start, end;
        std::string text;
    };
    std::vector<Item> items;
    for (const auto& c : src) items.push_back({c.start, c.end, c.text});
    if (t.sorted) std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.start < b.start; });
    std::vector<Cue> out;
    int64_t last = -1;
    constexpr int64_t kMax = INT32_MAX;
    for (Item& c : items) {
        int64_t s = std::max<int64_t>(c.start, 0), e = std::max<int64_t>(c.end, 0);
        const bool had_length = e > s;
        if (t.unit == 10) {
            s = (s + 5) / 10;
            e = (e + 5) / 10;
            if (t.name == "ass" && (e > kMax / 10 || s >= kMax / 10)) {
                s = std::min(s, kMax / 10 - 1);
                e = std::min(e, kMax / 10);
            }
            if (t.sorted) s = std::min(std::max(s, last + 1), kMax / 10); // LRC: cues past the largest time share it
            last = s;
            if (e <= s && (had_length || t.lengthens)) e = s + 1;
            s *= 10;
            e *= 10;
        } else if (t.lengthens && e <= s) {
            if (s == kMax) --s;
            e = s + 1;
        }
        if (c.text.empty()) continue;
        if (t.sorted && !out.empty() && out.back().start == s)
            out.back().text += "\n" + c.text;
        else
            out.push_back({s, t.ends ? e : 0, std::move(c.text)});
    }
    return out;
}

// `source`: the cues written, as {start, end, normal text}; `back`: the result read from what
// target `t` wrote.
template <typename Source>
std::string difference(const Source& source, const Target& t, const cuekit::Result& back) {
    const std::vector<Cue> want = expected(source, t);
    std::vector<Cue> got;
    for (const auto& c : back) {
        std::string text = normal_text(c.lines(), static_cast<int>(t.reads_as));
        if (!text.empty()) got.push_back({c.start_ms(), t.ends ? c.end_ms() : 0, std::move(text)});
    }
    if (got.size() != want.size())
        return std::string(t.name) + ": " + std::to_string(got.size()) + " cues read back, " + std::to_string(want.size()) + " written";
    for (size_t k = 0; k < want.size(); ++k)
        if (got[k].start != want[k].start || got[k].end != want[k].end ||
            got[k].text != want[k].text)
            return std::string(t.name) + " cue " + std::to_string(k) + ": read back " + std::to_string(got[k].start) + "-" +
                   std::to_string(got[k].end) + " \"" + got[k].text + "\", written " + std::to_string(want[k].start) + "-" +
                   std::to_string(want[k].end) + " \"" + want[k].text + "\"";
    return {};
}

// The cues of a result as the check takes them.
struct Written {
    int64_t start, end;
    std::string text;
};
inline std::vector<Written> cues_of(const cuekit::Result& r) {
    std::vector<Written> out;
    for (const auto& c : r) out.push_back({c.start_ms(), c.end_ms(), normal_text(c.lines(), static_cast<int>(r.format()))});
    return out;
}

} // namespace cuekit_round_trip
