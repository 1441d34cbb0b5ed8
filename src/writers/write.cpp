// The table of targets and what every writer uses: clock times, cue order, the lines of a
// cue in the target's markup, and the one entry that runs a writer into a sink.
#include "writers/writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>

namespace cuekit {
namespace {

constexpr std::array<TargetInfo, 7> kTargets{{
    {"srt", ".srt", Markup::Html, write_srt, nullptr},
    {"vtt", ".vtt", Markup::Vtt, write_vtt, nullptr},
    {"ass", ".ass", Markup::Ass, write_ass, write_danmaku_ass},
    {"ttml", ".ttml", Markup::Xml, write_ttml, nullptr},
    {"lrc", ".lrc", Markup::Plain, write_lrc, nullptr},
    {"txt", ".txt", Markup::Plain, write_txt, nullptr},
    {"json", ".json", Markup::Plain, write_json_target, nullptr},
}};

bool is_danmaku_format(int format) {
    const FormatInfo* f = format_info(format);
    return f && f->danmaku;
}

} // namespace

std::span<const TargetInfo> targets() { return kTargets; }

const TargetInfo* find_target(std::string_view name) {
    for (const TargetInfo& t : kTargets)
        if (ieq(t.name, name)) return &t;
    return nullptr;
}

Out& Out::num(uint64_t v, int width) {
    char tmp[24];
    const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    for (auto n = r.ptr - tmp; n < width; ++n) put('0');
    return put(std::string_view(tmp, static_cast<size_t>(r.ptr - tmp)));
}

void put_clock(Out& out, int64_t units, int hour_width, char sep, int frac_digits) {
    const int64_t per_second = frac_digits == 3 ? 1000 : 100;
    if (units < 0) units = 0;
    const auto u = static_cast<uint64_t>(units);
    const uint64_t seconds = u / static_cast<uint64_t>(per_second);
    out.num(seconds / 3600, hour_width).put(':').num(seconds / 60 % 60, 2).put(':').num(seconds % 60, 2);
    out.put(sep).num(u % static_cast<uint64_t>(per_second), frac_digits);
}

void put_joined(Out& out, const std::vector<std::string>& lines, std::string_view sep) {
    for (size_t j = 0; j < lines.size(); ++j) {
        if (j) out.put(sep);
        out.put(lines[j]);
    }
}

std::vector<size_t> order_by_start(const CueView& cues) {
    std::vector<size_t> order(cues.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return cues.cue(a).start_ms < cues.cue(b).start_ms; });
    return order;
}

CueLines::CueLines(const CueView& cues, Markup to, const WriteSettings& ws)
    : cues_(cues), markup_(source_markup(cues.source_format()), to, ws.strip, cues.source_format()),
      xml_(to == Markup::Xml) {}

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// Whether a line needs a look: bytes beyond ASCII (ill-formed UTF-8, U+2028) or, for XML,
// control characters.
bool needs_clean(std::string_view s, bool xml) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || (xml && u < 0x20 && c != '\t')) return true;
    }
    return false;
}

} // namespace

// Every target is UTF-8: an ill-formed part becomes U+FFFD. XML 1.0 has no place for most
// control characters, nor U+FFFE and U+FFFF: they are left out of TTML.
void CueLines::clean(std::string& line) const {
    if (!needs_clean(line, xml_)) return;
    scratch_.clear();
    for (size_t i = 0; i < line.size();) {
        const auto u = static_cast<unsigned char>(line[i]);
        size_t bad = 0;
        const size_t n = utf8_sequence(line, i, bad);
        if (n == 0) {
            scratch_ += kReplacement;
            i += bad;
            continue;
        }
        const std::string_view ch(line.data() + i, n);
        const bool forbidden = xml_ && ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') ||
                                        ch == "\xEF\xBF\xBE" || ch == "\xEF\xBF\xBF");
        if (!forbidden) scratch_ += ch;
        i += n;
    }
    line.swap(scratch_);
}

const std::vector<std::string>& CueLines::of(size_t i) {
    const size_t n = cues_.cue(i).lines;
    lines_.resize(n);
    bool breaks = false;
    for (size_t j = 0; j < n; ++j) {
        lines_[j].clear();
        markup_.line(cues_.line(i, j), lines_[j]);
    }
    if (n) markup_.end_cue(lines_[n - 1]);
    for (std::string& l : lines_) {
        clean(l);
        // U+2028 too: the readers end a line there.
        breaks = breaks || l.find_first_of("\r\n") != std::string::npos || l.find("\xE2\x80\xA8") != std::string::npos;
    }
    if (breaks) split_breaks();
    return lines_;
}

// A line break inside a line would break every target's structure: it separates lines.
void CueLines::split_breaks() {
    split_.clear();
    for (const std::string& line : lines_) {
        LineReader reader(line);
        std::string_view piece;
        while (reader.next(piece)) split_.emplace_back(piece);
    }
    lines_.swap(split_);
}

void write_json_target(const CueView& cues, const WriteSettings& ws, Out& out, Notes&) {
    // Stripping hands the document each cue's lines as plain text instead of its own.
    std::optional<CueLines> plain;
    LineSource stand_in;
    if (ws.strip && source_markup(cues.source_format()) != Markup::Plain) {
        plain.emplace(cues, Markup::Plain, ws);
        stand_in = {[](void* lines, size_t i) -> const std::vector<std::string>& { return static_cast<CueLines*>(lines)->of(i); },
                    &*plain};
    }
    const auto to_out = [](void* sink, const char* p, size_t n) {
        auto& o = *static_cast<Out*>(sink);
        o.put(std::string_view(p, n));
        return !o.failed();
    };
    if (!stream_json(cues, to_out, &out, stand_in)) {
        if (!out.failed()) throw std::bad_alloc(); // otherwise the sink's refusal is the result
        return;
    }
    out.put('\n');
}

void write_txt(const CueView& cues, const WriteSettings& ws, Out& out, Notes&) {
    CueLines lines(cues, Markup::Plain, ws);
    for (size_t i = 0; i < cues.size(); ++i)
        for (const std::string& line : lines.of(i)) out.put(line).put('\n');
}

bool settings_valid(const WriteSettings& ws) {
    const auto within = [](double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; };
    // A font name is written into the style line, whose fields commas separate.
    const bool font_ok = ws.font.find_first_of(",\r\n") == std::string_view::npos;
    return font_ok && ws.canvas_w >= 16 && ws.canvas_w <= kCanvasMax && ws.canvas_h >= 16 &&
           ws.canvas_h <= kCanvasMax && within(ws.font_scale, 0.01, 100) && within(ws.opacity, 0, 1) &&
           within(ws.scroll_s, 0.1, 3600) && within(ws.fixed_s, 0.1, 3600) && within(ws.lanes, 0.01, 1);
}

int write_cues(const CueView& cues, std::string_view target, const WriteSettings& ws, SinkFn sink, void* ctx,
               Notes& notes) {
    const TargetInfo* t = find_target(target);
    if (!t || !settings_valid(ws)) return 1;
    const WriterFn fn = (t->write_danmaku && is_danmaku_format(cues.source_format())) ? t->write_danmaku : t->write;
    return guard_oom([&] {
        Out out(sink, ctx);
        fn(cues, ws, out, notes);
        return out.flush() ? 0 : 6;
    });
}

} // namespace cuekit
