// TTML (also DFXP): a forward scanner over tt, body, div and p tags (with any namespace
// prefix), not an XML parser; comments, CDATA sections, processing instructions and a
// document type are stepped over. Every p with usable timing and text becomes one cue. Times
// follow the timing model: body, div, p and span count from their parent's begin (in a
// sequence, from where the previous child ended), an element without times lasts as its
// parent, and a p without times lasts as its timed spans. Tick and frame units follow the
// document's timing parameters. Paragraph text reads as TTML's default whitespace handling
// has it: br breaks the line, and line breaks in the source are mere whitespace.
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
constexpr double kDefaultTickRate = 10000;
constexpr double kDefaultFrameRate = 25;
constexpr size_t kNamedImages = 3; // an image-only document's warning names the first few

// An attribute value as a C string, for strtod.
using ValueCopy = CStringCopy<kAttrMax>;

// A timed element still open: its interval, how its children are timed, and how far the
// timed content inside it reached (a sequence moves on by that when no end was given).
struct Frame {
    int32_t begin = 0;
    int32_t end = INT32_MAX;
    bool open = true;   // no end anywhere up the tree: the element lasts indefinitely
    int32_t cursor = 0; // in a sequence, where the next child's times count from
    int32_t reach = 0;
    bool seq = false;
    bool ends = false;  // whether the element gave its own end
    bool body = false;  // a body element (else a div, p or span)
    bool timed = false; // whether it has any time of its own
};

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
    // The document's timeline, then each open body and div.
    PodArray<Frame> frames{};
    size_t cues = 0;
    size_t bodies = 0; // body elements among the frames
    // Images met on the way, named should the document hold nothing else.
    size_t images = 0;
    std::string image_names{};
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

// A time below the sync base is taken as relative to it, any other as absolute: documents
// write paragraph times both ways under a shifted division.
int32_t place(int32_t t, int32_t base) { return t < base ? add_sat(t, base) : t; }

// The interval of an element opening in `parent`: its begin counts from the parent's begin
// (in a sequence, from where the previous child ended), its end is its own end or begin plus
// duration, else the parent's. Paragraphs in a parallel container place their times (see
// place); times that do not parse count as absent. Clipped to the parent.
Frame open_frame(const TagAttributes& attrs, const Frame& parent, bool placed, TtmlParse& ps) {
    Frame f;
    const int32_t base = parent.seq ? parent.cursor : parent.begin;
    const auto at = [&](int32_t t) { return placed && !parent.seq ? place(t, base) : add_sat(base, t); };
    f.begin = base;
    const AttrValue b = attrs.get("begin", kAttrMax);
    const AttrValue e = attrs.get("end", kAttrMax);
    const AttrValue d = attrs.get("dur", kAttrMax);
    f.timed = b.found || e.found || d.found;
    if (b.found)
        if (const int32_t t = ttml_time_ms(b.value, ps); t >= 0) f.begin = at(t);
    if (e.found)
        if (const int32_t t = ttml_time_ms(e.value, ps); t >= 0) {
            f.end = at(t);
            f.ends = true;
        }
    if (!f.ends && d.found)
        if (const int32_t t = ttml_time_ms(d.value, ps); t >= 0) {
            f.end = add_sat(f.begin, t);
            f.ends = true;
        }
    f.open = !f.ends && parent.open;
    if (!f.ends || (!parent.open && parent.end < f.end)) f.end = parent.end;
    f.begin = std::min(f.begin, f.end);
    f.reach = f.cursor = f.begin;
    return f;
}

// Whether the element times its children one after another; asked only where children are
// read, which a timed paragraph's are not.
bool is_seq(const TagAttributes& attrs) {
    const AttrValue container = attrs.get("timeContainer", kAttrMax);
    return container.found && ieq(container.value, "seq");
}

// Where a closed child leaves its parent: a sequence moves on to the child's end, or without
// one to the end of the content it timed.
void close_frame(const Frame& child, Frame& parent) {
    const int32_t end = child.ends ? child.end : child.reach;
    parent.reach = std::max(parent.reach, end);
    if (parent.seq) parent.cursor = std::max(parent.cursor, end);
}

void note_image(std::string_view name, TtmlParse& ps) {
    if (ps.images++ >= kNamedImages) return;
    if (!ps.image_names.empty()) ps.image_names += ", ";
    ps.image_names += name.empty() ? std::string_view("(unnamed)") : name;
}

// The elements the scanner acts on, by local name (any namespace prefix removed).
enum class Kind { other, tt, body, body_end, div, div_end, para, image };

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
    if (t.end_tag) return ieq(t.local, "div") ? Kind::div_end : ieq(t.local, "body") ? Kind::body_end : Kind::other;
    if (t.name_end >= text.size() || !ends_name(text[t.name_end])) return Kind::other;
    if (ieq(t.local, "tt")) return Kind::tt;
    if (ieq(t.local, "div")) return Kind::div;
    if (ieq(t.local, "p")) return Kind::para;
    if (ieq(t.local, "body")) return Kind::body;
    if (ieq(t.local, "image")) return Kind::image;
    return Kind::other;
}

// The next paragraph end tag ("</p>", "</tt:p>", any prefix or case) at or after a position
// that only moves forward. A found tag is kept until the position passes it, and once none
// is left none is searched for again, so the whole scan reads the text once. The '<' signs on
// the way tell whether a comment, CDATA section or the like lies before the tag.
class ParaEndFinder {
public:
    explicit ParaEndFinder(std::string_view text) : text_(text), constructs_(text) {}
    // Where the end tag starts, with `after` set past its '>' and `construct` telling whether a
    // construct starts between `from` and it; npos when there is none.
    size_t next(size_t from, size_t& after, bool& construct) {
        constexpr auto npos = std::string_view::npos;
        if (at_ == npos || at_ < from) {
            if (none_) return npos;
            at_ = first_ = npos;
            const size_t n = text_.size();
            for (size_t p = from; p < n; ++p) {
                const void* lt = std::memchr(text_.data() + p, '<', n - p);
                if (!lt) break;
                p = static_cast<size_t>(static_cast<const char*>(lt) - text_.data());
                const char c = p + 1 < n ? text_[p + 1] : '\0';
                if (c == '!' || c == '?') first_ = std::min(first_, p);
                if (c != '/') continue;
                const TagName t = read_tag_name(text_, p);
                if (ieq(t.local, "p") && t.name_end < n && text_[t.name_end] == '>') {
                    at_ = p;
                    after_ = t.name_end + 1;
                    break;
                }
            }
            none_ = at_ == npos;
        }
        after = after_;
        // A tag found from an earlier position knows only its first construct.
        construct = first_ != npos && (first_ >= from || constructs_.next(from) < at_);
        return at_;
    }

private:
    std::string_view text_;
    XmlConstructs constructs_;
    size_t at_ = std::string_view::npos;
    size_t after_ = 0;
    size_t first_ = std::string_view::npos; // the first construct between the search start and at_
    bool none_ = false;
};

// The interval the timed spans of a paragraph without times cover, within `para` (empty when
// none falls inside it); false when no span has a time. Spans nest to any depth on a stack
// of their own.
bool spans_interval(std::string_view inner, const Frame& para, TtmlParse& ps, Frame& out, bool& ok) {
    PodArray<Frame> stack;
    if (!stack.push(para)) return ok = false;
    int32_t lo = INT32_MAX;
    int32_t hi = INT32_MIN;
    bool any = false;
    size_t pos = 0;
    for (size_t at = inner.find('<'); at != std::string_view::npos; at = inner.find('<', pos)) {
        const TagName name = read_tag_name(inner, at);
        pos = at + 1;
        Frame& top = stack[stack.size() - 1];
        if (!ieq(name.local, "span")) continue;
        if (name.end_tag) {
            if (stack.size() == 1) continue;
            const Frame child = top;
            stack.shrink_to(stack.size() - 1);
            close_frame(child, stack[stack.size() - 1]);
            continue;
        }
        const size_t gt = inner.find('>', name.name_end);
        if (gt == std::string_view::npos) break;
        pos = gt + 1;
        const TagAttributes attrs(inner.substr(at, std::min(gt + 1 - at, kParaTagMax)));
        Frame span = open_frame(attrs, top, false, ps);
        span.seq = is_seq(attrs);
        if (top.seq && !span.ends) {
            span.end = span.begin;
            span.open = false;
        }
        any = any || span.timed;
        if (span.timed && !span.open && span.begin < span.end) {
            lo = std::min(lo, span.begin);
            hi = std::max(hi, span.end);
            span.reach = span.end;
        }
        if (inner[gt - 1] == '/')
            close_frame(span, top);
        else if (!stack.push(span))
            return ok = false;
    }
    if (!any) return false;
    out = para;
    out.open = false;
    if (lo >= hi) lo = hi = para.begin;
    out.begin = lo;
    out.reach = out.end = hi;
    out.ends = true;
    return true;
}

// One paragraph and its text; false when memory ran out.
bool add_paragraph(std::string_view tag, std::string_view inner, const MarkupText& body, TtmlParse& ps) {
    Frame& parent = ps.frames[ps.frames.size() - 1];
    const TagAttributes attrs(tag);
    Frame para = open_frame(attrs, parent, true, ps);
    // An element without an end lasts as long as its parent in a parallel container and no
    // time in a sequence; a paragraph without times lasts as its timed spans, if any.
    Frame within = para;
    if (parent.seq && !para.ends) {
        para.end = para.begin;
        para.open = false;
    }
    if (!para.timed) {
        within.seq = is_seq(attrs);
        bool ok = true;
        if (spans_interval(inner, within, ps, para, ok)) para.timed = true;
        if (!ok) return false;
    }
    if (!para.open && para.begin < para.end && !body.text().empty()) {
        body.add_to(ps.st, cue_add(ps.st, para.begin, para.end));
        para.reach = para.end;
        ++ps.cues;
    }
    close_frame(para, parent);
    return true;
}

// A div or body start tag: its images noted, its interval opened (and closed at once when the
// tag closes itself).
bool open_container(std::string_view tag, bool body, TtmlParse& ps) {
    const TagAttributes attrs(tag);
    if (const AttrValue image = attrs.get("backgroundImage", kAttrMax); image.found) note_image(image.value, ps);
    Frame& parent = ps.frames[ps.frames.size() - 1];
    Frame f = open_frame(attrs, parent, false, ps);
    f.seq = is_seq(attrs);
    f.body = body;
    if (tag.ends_with("/>")) {
        close_frame(f, parent);
        return true;
    }
    ps.bodies += body ? 1 : 0;
    return ps.frames.push(f);
}

// A div or body end tag: closes the innermost div, or everything up to the innermost body.
void close_container(bool body, TtmlParse& ps) {
    auto& frames = ps.frames;
    while (frames.size() > 1) {
        const Frame child = frames[frames.size() - 1];
        if (body ? ps.bodies == 0 : child.body) return;
        frames.shrink_to(frames.size() - 1);
        ps.bodies -= child.body ? 1 : 0;
        close_frame(child, frames[frames.size() - 1]);
        if (!body || child.body) return;
    }
}

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
    if (!ps.frames.push(Frame{})) return SUB_ERR_NOMEM;
    ParaEndFinder para_end(text);
    XmlConstructs constructs(text);
    MarkupText body;
    std::string flat;

    size_t pos = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', pos)) {
        if (at + 1 < text.size() && (text[at + 1] == '!' || text[at + 1] == '?')) {
            pos = xml_construct_end(text, at);
            continue;
        }
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
            // The end tag, not one inside a comment or a CDATA section.
            size_t after = 0;
            bool crossed = false;
            size_t close = para_end.next(gt + 1, after, crossed);
            for (size_t from = gt + 1; crossed;) {
                const size_t c = constructs.next(from);
                if (c >= close) break;
                from = xml_construct_end(text, c);
                bool more = false;
                close = para_end.next(from, after, more);
            }
            if (close == std::string_view::npos) continue;
            std::string_view inner = text.substr(gt + 1, close - gt - 1);
            if (crossed) inner = xml_flatten(inner, flat);
            body.decode(inner, {.br_breaks = true, .collapse_space = true});
            if (!add_paragraph(tag.substr(0, kParaTagMax), inner, body, ps)) return SUB_ERR_NOMEM;
            pos = after;
            continue;
        }
        const std::string_view copy = tag.substr(0, kWrapTagMax);
        if (kind == Kind::image) {
            // An SMPTE image in the head is data a background points at, not one shown.
            if (!istarts_with(text.substr(at + 1), "smpte:")) {
                const TagAttributes attrs(copy);
                const AttrValue src = attrs.get("src", kAttrMax);
                note_image(src.found ? src.value : attrs.get("xml:id", kAttrMax).value, ps);
            }
            continue;
        }
        if (kind != Kind::body && kind != Kind::body_end) read_parameters(copy, ps);
        if ((kind == Kind::div || kind == Kind::body) && !open_container(copy, kind == Kind::body, ps))
            return SUB_ERR_NOMEM;
        if (kind == Kind::div_end || kind == Kind::body_end) close_container(kind == Kind::body_end, ps);
    }

    if (ps.cues == 0 && ps.images > 0) {
        warn(st, "ttml: %zu image(s) and no text; images are not read: %s%s", ps.images, ps.image_names.c_str(),
             ps.images > kNamedImages ? ", ..." : "");
    }
    return finish_parse(st, SUB_FORMAT_TTML, "no TTML cues");
}

} // namespace cuekit
