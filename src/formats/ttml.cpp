// TTML (also DFXP): a forward scanner over tt, div and p tags (with any namespace prefix),
// not an XML parser. Every p with usable timing and text becomes one cue; enclosing divs
// shift paragraph times by their begin, and tick and frame units follow the document's timing
// parameters. Paragraph text reads as TTML's default whitespace handling has it: br breaks
// the line, and line breaks in the source are mere whitespace.
#include "formats/formats.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace cuekit {
namespace {

// Tag copies and attribute values are cut like fixed buffers would cut them.
constexpr size_t kWrapTagMax = 1023; // tt and div tags
constexpr size_t kParaTagMax = 511;
constexpr size_t kAttrMax = 63;
constexpr size_t kDivStackMax = 8;
constexpr double kDefaultTickRate = 10000;
constexpr double kDefaultFrameRate = 25;

// An attribute value as a C string, for strtod.
using ValueCopy = CStringCopy<kAttrMax>;

// Everything one parse knows; nothing outlives the call.
struct TtmlParse {
    Store& st;
    bool tick_given = false;
    double tick_rate = 0;
    bool frame_given = false;
    double frame_rate = 0;
    double frame_mult = 1.0;
    // Each missing-parameter warning is given once per parse.
    bool g_tt_warn_tick = true;
    bool g_tt_warn_frame = true;
    std::array<int32_t, kDivStackMax> offsets{};
    size_t depth = 0;
    // div start tags met while the stack was full: their end tags must not pop tracked ones.
    size_t untracked = 0;

    int32_t offset_sum() const {
        int32_t sum = 0;
        for (size_t i = 0; i < depth; ++i) sum = add_sat(sum, offsets[i]);
        return sum;
    }
};

double read_double(std::string_view v) { return strtod_fast(ValueCopy(v).c_str(), nullptr); }

// The rate of frames or ticks: the document's parameter (frames times the multiplier), or
// without one the default, announced once per parse. False when the parameter is unusable.
bool unit_rate(TtmlParse& ps, bool frames, double& rate) {
    const bool given = frames ? ps.frame_given : ps.tick_given;
    const double param = frames ? ps.frame_rate : ps.tick_rate;
    rate = frames ? kDefaultFrameRate : kDefaultTickRate;
    if (given) {
        if (!(param > 0)) return false;
        rate = frames ? param * ps.frame_mult : param;
    } else if (bool& once = frames ? ps.g_tt_warn_frame : ps.g_tt_warn_tick; once) {
        once = false;
        warn(ps.st, "%s",
             frames ? "ttml: ttp:frameRate missing, defaulting to 25" : "ttml: ttp:tickRate missing, defaulting to 10000");
    }
    return true;
}

// Offset time ("1.5s", "1h30m", "250ms", "30f", "10000t", a bare number of seconds), or -1.
// Components are truncated one by one; NaN makes the value invalid and out-of-range
// components and sums saturate, so no input reaches an undefined conversion.
int32_t ttml_offset_ms(std::string_view value, TtmlParse& ps) {
    if (value.empty()) return -1;
    const ValueCopy copy(value);
    const char* p = copy.c_str();
    int64_t sum = 0;
    bool first = true;
    for (;;) {
        char* after = nullptr;
        const double x = strtod_fast(p, &after);
        if (after == p) return -1;
        p = after;
        double ms = 0;
        if (*p == '\0') {
            // A bare number is seconds on its own and milliseconds after a unit ("1m30").
            ms = first ? x * 1000 : x;
        } else {
            switch (*p) {
            case 'h':
                if (p[1] != '\0' && !is_digit(static_cast<unsigned char>(p[1]))) return -1;
                ms = x * 3600000;
                ++p;
                break;
            case 'm':
                if (p[1] == 's') {
                    ms = x;
                    p += 2;
                } else {
                    ms = x * 60000;
                    ++p;
                }
                break;
            case 's':
                if (p[1] != '\0') return -1;
                ms = x * 1000;
                ++p;
                break;
            case 'f':
            case 't': {
                if (p[1] != '\0') return -1;
                double rate = 0;
                if (!unit_rate(ps, *p == 'f', rate)) return -1;
                ms = x / rate * 1000;
                ++p;
                break;
            }
            default:
                return -1;
            }
        }
        if (std::isnan(ms)) return -1;
        sum += saturate_i32(ms);
        first = false;
        if (*p == '\0') break;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

// A clock time whose last field counts frames ("00:00:01:12") at the effective frame rate,
// or -1. Truncated toward zero like every other time.
int32_t ttml_frames_clock_ms(int32_t clock_ms, int64_t frames, TtmlParse& ps) {
    double rate = 0;
    if (!unit_rate(ps, true, rate)) return -1;
    const double ms = static_cast<double>(frames) / rate * 1000;
    if (std::isnan(ms)) return -1;
    return add_sat(clock_ms, saturate_i32(ms));
}

// begin, end and dur values: a clock time first, an offset time second.
int32_t ttml_time_ms(std::string_view value, TtmlParse& ps) {
    int32_t clock = 0;
    if (int64_t frames = 0; parse_hms_frames(value, clock, frames)) return ttml_frames_clock_ms(clock, frames, ps);
    clock = parse_hms_ms(value, false);
    return clock >= 0 ? clock : ttml_offset_ms(value, ps);
}

// Timing parameters hold for the rest of the document once any tt or div tag states them.
void read_parameters(std::string_view tag, TtmlParse& ps) {
    if (const AttrValue a = xml_get_attr(tag, "ttp:tickRate", kAttrMax); a.found) {
        ps.tick_rate = read_double(a.value);
        ps.tick_given = true;
    }
    const AttrValue frame = xml_get_attr(tag, "ttp:frameRate", kAttrMax);
    if (!frame.found) return;
    ps.frame_rate = read_double(frame.value);
    ps.frame_given = true;
    const AttrValue mult = xml_get_attr(tag, "ttp:frameRateMultiplier", kAttrMax);
    if (!mult.found) return;
    // "numerator denominator", or a single number.
    const ValueCopy copy(mult.value);
    char* num_end = nullptr;
    const double num = std::strtod(copy.c_str(), &num_end);
    if (num_end == copy.c_str()) return;
    char* den_end = nullptr;
    const double den = std::strtod(num_end, &den_end);
    if (den_end == num_end)
        ps.frame_mult = num;
    else if (den != 0)
        ps.frame_mult = num / den;
}

void open_div(std::string_view tag, TtmlParse& ps) {
    const AttrValue begin = xml_get_attr(tag, "begin", kAttrMax);
    const AttrValue container = xml_get_attr(tag, "timeContainer", kAttrMax);
    if (ps.depth == kDivStackMax) {
        ++ps.untracked;
        return;
    }
    int32_t offset = 0;
    if (begin.found && !begin.value.empty()) {
        if (!container.found || container.value.empty() || ieq(container.value, "par")) {
            offset = std::max<int32_t>(ttml_time_ms(begin.value, ps), 0);
        } else {
            warn(ps.st, "ttml: timeContainer=\"%.*s\" unsupported, div begin ignored",
                 static_cast<int>(container.value.size()), container.value.data());
        }
    }
    ps.offsets[ps.depth++] = offset;
}

void close_div(TtmlParse& ps) {
    if (ps.untracked > 0)
        --ps.untracked;
    else if (ps.depth > 0)
        --ps.depth;
}

// A time below the division offset is taken as relative to it, any other as absolute.
int32_t place(int32_t t, int32_t offset) { return t < offset ? add_sat(t, offset) : t; }

void add_paragraph(std::string_view tag, const MarkupText& body, TtmlParse& ps) {
    const TagAttributes attrs(tag);
    const AttrValue begin_attr = attrs.get("begin", kAttrMax);
    const AttrValue end_attr = attrs.get("end", kAttrMax);
    const AttrValue dur_attr = attrs.get("dur", kAttrMax);
    const int32_t offset = ps.offset_sum();

    int32_t start = 0;
    if (begin_attr.found) {
        const int32_t b = ttml_time_ms(begin_attr.value, ps);
        if (b >= 0) start = place(b, offset);
    }
    bool has_end = false;
    int32_t end = 0;
    if (end_attr.found) {
        const int32_t e = ttml_time_ms(end_attr.value, ps);
        if (e >= 0) {
            end = place(e, offset);
            has_end = true;
        }
    }
    if (!has_end && dur_attr.found) {
        const int32_t d = ttml_time_ms(dur_attr.value, ps);
        if (d >= 0) {
            end = add_sat(start, d);
            has_end = true;
        }
    }
    if (!has_end || end <= start || body.text().empty()) return;
    body.add_to(ps.st, cue_add(ps.st, start, end));
}

// The elements the scanner acts on, by local name (any namespace prefix removed).
enum class Kind { other, tt, div, div_end, para };

// A start tag's name must end at one of these; "<p/>" and "<div/>" are not taken.
constexpr bool ends_name(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>'; }

struct TagName {
    bool end_tag = false;
    std::string_view local; // the name without its prefix
    size_t name_end = 0;    // first byte after the qualified name
};

// The name of the tag opening at text[at] ('<'). A name stops at a blank, '/', '>' or '<',
// so each byte is read at most once per scan.
TagName read_tag_name(std::string_view text, size_t at) {
    size_t p = at + 1;
    const bool end_tag = p < text.size() && text[p] == '/';
    if (end_tag) ++p;
    size_t q = p;
    while (q < text.size() && !ends_name(text[q]) && text[q] != '/' && text[q] != '<') ++q;
    std::string_view local = text.substr(p, q - p);
    if (const size_t colon = local.rfind(':'); colon != std::string_view::npos) local.remove_prefix(colon + 1);
    return {end_tag, local, q};
}

Kind kind_of(const TagName& t, std::string_view text) {
    if (t.end_tag) return ieq(t.local, "div") ? Kind::div_end : Kind::other;
    if (t.name_end >= text.size() || !ends_name(text[t.name_end])) return Kind::other;
    if (ieq(t.local, "tt")) return Kind::tt;
    if (ieq(t.local, "div")) return Kind::div;
    if (ieq(t.local, "p")) return Kind::para;
    return Kind::other;
}

// The next paragraph end tag ("</p>", "</tt:p>", any prefix or case) at or after a position
// that only moves forward. A found tag is kept until the position passes it, and once none
// is left none is searched for again, so the whole scan reads the text once.
class ParaEndFinder {
public:
    explicit ParaEndFinder(std::string_view text) : text_(text), opens_(text, "</", true) {}
    // Where the end tag starts, with `after` set past its '>'; npos when there is none.
    size_t next(size_t from, size_t& after) {
        if (at_ == std::string_view::npos || at_ < from) {
            if (none_) return std::string_view::npos;
            at_ = std::string_view::npos;
            for (size_t p = opens_.next(from); p != std::string_view::npos; p = opens_.next(p + 2)) {
                const TagName t = read_tag_name(text_, p);
                if (ieq(t.local, "p") && t.name_end < text_.size() && text_[t.name_end] == '>') {
                    at_ = p;
                    after_ = t.name_end + 1;
                    break;
                }
            }
            none_ = at_ == std::string_view::npos;
        }
        after = after_;
        return at_;
    }

private:
    std::string_view text_;
    ForwardFinder opens_;
    size_t at_ = std::string_view::npos;
    size_t after_ = 0;
    bool none_ = false;
};

} // namespace

// A tt element whatever its prefix ("<tt:tt ", as EBU-TT-D and many IMSC documents write it),
// the TTML namespace, or an unprefixed timed paragraph.
bool probe_ttml(std::string_view sample) {
    if (icontains(sample, "ttml") || icontains(sample, "<p begin=")) return true;
    for (size_t at = sample.find('<'); at != std::string_view::npos; at = sample.find('<', at + 1))
        if (kind_of(read_tag_name(sample, at), sample) == Kind::tt) return true;
    return false;
}

int parse_ttml(Store& st, std::string_view text) {
    text = until_nul(text);
    TtmlParse ps{st};
    ParaEndFinder para_end(text);
    MarkupText body;

    size_t pos = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', pos)) {
        const TagName name = read_tag_name(text, at);
        const Kind kind = kind_of(name, text);
        if (kind == Kind::other) {
            pos = at + 1;
            continue;
        }
        const size_t gt = text.find('>', name.name_end);
        if (gt == std::string_view::npos) break;
        const std::string_view tag = text.substr(at, gt + 1 - at);
        pos = gt + 1;

        if (kind == Kind::para) {
            // A self-closing paragraph is empty; it must not take the next paragraph's text.
            if (text[gt - 1] == '/') continue;
            size_t after = 0;
            const size_t close = para_end.next(gt + 1, after);
            if (close == std::string_view::npos) continue;
            body.decode(text.substr(gt + 1, close - gt - 1), {.br_breaks = true, .collapse_space = true});
            add_paragraph(tag.substr(0, kParaTagMax), body, ps);
            pos = after;
            continue;
        }
        const std::string_view copy = tag.substr(0, kWrapTagMax);
        read_parameters(copy, ps);
        if (kind == Kind::div)
            open_div(copy, ps);
        else if (kind == Kind::div_end)
            close_div(ps);
    }

    return finish_parse(st, SUB_FORMAT_TTML, "no TTML cues");
}

} // namespace cuekit
