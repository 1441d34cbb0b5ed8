// The table of targets and what every writer uses: clock times, cue order, the lines of a
// cue in the target's markup, and the one entry that runs a writer into a sink.
#include "writers/writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>

namespace cuekit {
namespace {

constexpr std::array<TargetInfo, 7> kTargets{{
    {"srt", SUB_FORMAT_SRT, "", Markup::Html, write_srt, nullptr},
    {"vtt", SUB_FORMAT_VTT, "", Markup::Vtt, write_vtt, nullptr},
    {"ass", SUB_FORMAT_ASS, "", Markup::Ass, write_ass, write_danmaku_ass},
    {"ttml", SUB_FORMAT_TTML, "", Markup::Xml, write_ttml, nullptr},
    {"lrc", SUB_FORMAT_LRC, "", Markup::Plain, write_lrc, nullptr},
    {"txt", SUB_FORMAT_AUTO, ".txt", Markup::Plain, write_txt, nullptr},
    {"json", SUB_FORMAT_AUTO, ".json", Markup::Plain, write_json_target, nullptr},
}};

bool is_danmaku_format(int format) {
    const FormatInfo* f = format_info(format);
    return f && f->danmaku;
}

} // namespace

std::span<const TargetInfo> targets() { return kTargets; }

const TargetInfo* find_target(std::string_view name) {
    for (const TargetInfo& t : kTargets) {
        if (ieq(t.name, name)) return &t;
        if (const FormatInfo* f = format_info(t.format))
            for (const std::string_view a : f->aliases)
                if (!a.empty() && ieq(a, name)) return &t;
    }
    return nullptr;
}

std::string_view target_extension(const TargetInfo& t, size_t k) {
    if (const FormatInfo* f = format_info(t.format)) {
        if (k < f->extensions.size()) return f->extensions[k];
        return {};
    }
    return k == 0 ? t.ext : std::string_view{};
}

const TargetInfo* target_of_path(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return nullptr;
    const std::string_view ext = path.substr(dot);
    for (const TargetInfo& t : kTargets)
        for (size_t k = 0; !target_extension(t, k).empty(); ++k)
            if (ieq(target_extension(t, k), ext)) return &t;
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

// Whether XML has a place for a character: not for most control characters, nor U+FFFE and
// U+FFFF.
bool xml_allows(std::string_view ch) {
    const auto u = static_cast<unsigned char>(ch[0]);
    return (u >= 0x20 || u == '\t' || u == '\n' || u == '\r') && ch != "\xEF\xBF\xBE" && ch != "\xEF\xBF\xBF";
}

// `s` appended to `out` with each ill-formed UTF-8 part as U+FFFD, and for XML without what
// XML has no place for.
void append_clean(std::string_view s, bool xml, std::string& out) {
    for (size_t i = 0; i < s.size();) {
        size_t bad = 0;
        const size_t n = utf8_sequence(s, i, bad);
        if (n == 0) {
            out += kReplacement;
            i += bad;
            continue;
        }
        const std::string_view ch = s.substr(i, n);
        if (!xml || xml_allows(ch)) out += ch;
        i += n;
    }
}

} // namespace

// Every target is UTF-8: the source's lines are made well-formed before their markup is read,
// so that every target holds the same U+FFFD where they were not (markup between the bytes of
// a character never joins them).
std::string_view CueLines::well_formed(std::string_view line) {
    if (utf8_form(line) == Utf8Form::well_formed) return line;
    repaired_.clear();
    append_clean(line, false, repaired_);
    return repaired_;
}

// XML 1.0 has no place for most control characters, nor U+FFFE and U+FFFF: they are left out
// of TTML.
void CueLines::drop_xml_forbidden(std::string& line) {
    const bool any = std::any_of(line.begin(), line.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u == 0xEF || (u < 0x20 && c != '\t');
    });
    if (!any) return;
    repaired_.clear();
    append_clean(line, true, repaired_);
    line.swap(repaired_);
}

const std::vector<std::string>& CueLines::of(size_t i) {
    const size_t n = cues_.cue(i).lines;
    lines_.resize(n);
    bool breaks = false;
    for (size_t j = 0; j < n; ++j) {
        lines_[j].clear();
        markup_.line(well_formed(cues_.line(i, j)), lines_[j]);
    }
    if (n) markup_.end_cue(lines_[n - 1]);
    for (std::string& l : lines_) {
        if (xml_) drop_xml_forbidden(l);
        breaks = breaks || holds_line_end(l);
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

int write_cues(const CueView& cues, std::string_view target, const WriteSettings& ws, SinkFn sink, void* ctx,
               Notes& notes) {
    const TargetInfo* t = find_target(target);
    if (!t || option_problem_text(ws)) return SUB_WRITE_BAD_ARGUMENT;
    const WriterFn fn = (t->write_danmaku && is_danmaku_format(cues.source_format())) ? t->write_danmaku : t->write;
    return guard_oom([&] {
        Out out(sink, ctx);
        fn(cues, ws, out, notes);
        return out.flush() ? SUB_WRITE_OK : SUB_WRITE_SINK;
    });
}

namespace {

constexpr std::array<NumberOption, 5> kNumberOptions{{
    {"font_scale", &WriteOptions::font_scale, 0.01, 100},
    {"opacity", &WriteOptions::opacity, 0, 1},
    {"scroll_time", &WriteOptions::scroll_time, 0.1, 3600},
    {"fixed_time", &WriteOptions::fixed_time, 0.1, 3600},
    {"lanes", &WriteOptions::lanes, 0.01, 1},
}};
// The sides of an ASS canvas.
constexpr double kCanvasMin = 16;
constexpr double kCanvasMax = 16384;

// The problems one option can have, as a front end quotes them: what it expects, and the
// same after the option's name. Written once, into fixed arrays: checking never allocates.
struct ProblemText {
    std::string_view option;
    double min, max;
    char expected[96];
    char named[128];
};
enum : size_t { kCanvas, kFont, kFirstNumber };

const std::array<ProblemText, kFirstNumber + kNumberOptions.size()>& problem_texts() {
    static const auto texts = [] {
        std::array<ProblemText, kFirstNumber + kNumberOptions.size()> t{};
        const auto set = [&t](size_t k, const char* option, double lo, double hi, const char* expected) {
            t[k].option = option;
            t[k].min = lo;
            t[k].max = hi;
            std::snprintf(t[k].expected, sizeof t[k].expected, expected, lo, hi);
            std::snprintf(t[k].named, sizeof t[k].named, "%.24s: %.96s", option, t[k].expected);
        };
        set(kCanvas, "canvas", kCanvasMin, kCanvasMax, "expected a width and a height from %g to %g each");
        set(kFont, "font", 0, 0, "expected a name without a comma, line break or NUL byte");
        for (size_t k = 0; k < kNumberOptions.size(); ++k)
            set(kFirstNumber + k, kNumberOptions[k].name, kNumberOptions[k].min, kNumberOptions[k].max,
                "expected a number from %g to %g");
        return t;
    }();
    return texts;
}

} // namespace

NumberOptions number_options() { return {kNumberOptions.data(), kNumberOptions.data() + kNumberOptions.size()}; }

namespace {

// The problem of the first option out of its range, or nullptr.
const ProblemText* problem_of(const WriteOptions& o, std::string_view font) {
    const auto side_ok = [](int32_t v) { return v >= kCanvasMin && v <= kCanvasMax; };
    if (!side_ok(o.canvas_width) || !side_ok(o.canvas_height)) return &problem_texts()[kCanvas];
    // A font name is written into the style line, whose fields commas separate.
    if (font.find_first_of(std::string_view(",\r\n\0", 4)) != std::string_view::npos) return &problem_texts()[kFont];
    for (size_t n = 0; n < kNumberOptions.size(); ++n) {
        const double v = o.*kNumberOptions[n].field;
        if (!std::isfinite(v) || v < kNumberOptions[n].min || v > kNumberOptions[n].max)
            return &problem_texts()[kFirstNumber + n];
    }
    return nullptr;
}

} // namespace

const char* option_problem_text(const WriteOptions& o, std::string_view font) {
    const ProblemText* p = problem_of(o, font);
    return p ? p->named : nullptr;
}

OptionProblem check_options(const WriteOptions& options) {
    const ProblemText* p = problem_of(options, options.font);
    if (!p) return {};
    return {p->option, p->expected, p->min, p->max};
}

} // namespace cuekit
