// Danmaku as a player shows them, written as ASS. The canvas is cut into lanes one base line
// high. A scrolling comment enters at the right edge at its time and has left past the left
// edge after the scroll time, so its speed grows with its width; it takes the first lane in
// which it neither overlaps the comment before it at entry nor catches up with it before that
// one leaves. Top and bottom comments stay centred for the fixed time in the first lane that
// is free from the top or from the bottom. Widths are estimated from the characters: a full
// em for CJK and other wide characters, a little over half an em for the rest.
#include "writers/writer.hpp"

#include <cmath>

namespace cuekit {
namespace {

enum class Motion { None, Scroll, Reverse, Top, Bottom };

Motion motion_of(int32_t mode) {
    switch (mode) {
    case 1:
    case 2:
    case 3: return Motion::Scroll;
    case 4: return Motion::Bottom;
    case 5: return Motion::Top;
    case 6: return Motion::Reverse;
    default: return Motion::None;
    }
}

constexpr double kNarrowEm = 0.55;

bool is_wide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
           (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

// Width of a text in ems (override blocks included in the count: they are short and rare
// in danmaku, and a wider estimate only spaces comments more).
double text_ems(std::string_view s) {
    double ems = 0;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = 1;
        uint32_t cp = c;
        if (c >= 0xF0) {
            n = 4;
            cp = c & 0x07;
        } else if (c >= 0xE0) {
            n = 3;
            cp = c & 0x0F;
        } else if (c >= 0xC0) {
            n = 2;
            cp = c & 0x1F;
        }
        for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        ems += is_wide(cp) ? 1.0 : kNarrowEm;
    }
    return ems;
}

// The last comment placed in a scrolling lane.
struct Scroller {
    bool used = false;
    double start = 0; // seconds
    double width = 0;
    double speed = 0; // pixels per second
};

class Lanes {
public:
    Lanes(const WriteSettings& ws)
        : w_(ws.canvas_width), h_(ws.canvas_height), scroll_(ws.scroll_time), fixed_(ws.fixed_time),
          base_(ws.canvas_height / 30.0 * ws.font_scale), lane_h_(std::max(1.0, std::ceil(base_ * 1.1))),
          overlap_(ws.danmaku_overlap) {
        const auto all = static_cast<size_t>(std::max(1.0, std::floor(h_ / lane_h_)));
        const auto scrolling = static_cast<size_t>(std::clamp(std::floor(h_ * ws.lanes / lane_h_), 1.0, double(all)));
        forward_.resize(scrolling);
        reverse_.resize(scrolling);
        top_.assign(all, -1e300);
        bottom_.assign(all, -1e300);
    }

    double base() const { return base_; }
    double lane_height() const { return lane_h_; }
    int32_t duration_ms(Motion m) const {
        return static_cast<int32_t>(std::lround(1000 * (m == Motion::Top || m == Motion::Bottom ? fixed_ : scroll_)));
    }

    // The first lane of a comment of `lanes` lanes at time t, or -1 when none is free.
    long place(Motion m, double t, double width, size_t lanes) {
        if (m == Motion::Top || m == Motion::Bottom) {
            std::vector<double>& ends = m == Motion::Top ? top_ : bottom_;
            return claim(ends.size(), lanes, [&](size_t k) { return ends[k] - t; },
                         [&](size_t k) { ends[k] = t + fixed_; });
        }
        std::vector<Scroller>& row = m == Motion::Scroll ? forward_ : reverse_;
        const std::vector<Scroller>& other = m == Motion::Scroll ? reverse_ : forward_;
        const double speed = (w_ + width) / scroll_;
        // Comments crossing the other way would meet head-on: a lane holds one direction at a
        // time, until the last comment of the other has left.
        return claim(row.size(), lanes,
                     [&](size_t k) { return std::max(wait(row[k], t, speed), other[k].used ? other[k].start + scroll_ - t : -1); },
                     [&](size_t k) { row[k] = {true, t, width, speed}; });
    }

private:
    // How much later C (entering at t with `speed`) would have to enter to clear P: it must
    // not overlap P's tail at entry nor reach P before P has left at P.start + scroll time.
    double wait(const Scroller& p, double t, double speed) const {
        if (!p.used) return -1;
        const double entered = p.start + p.width / p.speed;           // P's tail at the right edge
        const double leaves = p.start + scroll_;                      // P's tail at the left edge
        const double catch_free = leaves - w_ / speed;                // C's head reaches x=0 no sooner
        return std::max(entered, catch_free) - t;
    }

    // The first run of `lanes` lanes whose waits are all <= 0; failing that, with overlap, the
    // run whose longest wait is shortest. `commit` marks the run's lanes.
    template <typename Wait, typename Commit>
    long claim(size_t total, size_t lanes, Wait wait_of, Commit commit) {
        lanes = std::min(lanes, total);
        long best = -1;
        double best_wait = 0;
        for (size_t first = 0; first + lanes <= total; ++first) {
            double worst = -1e300;
            for (size_t k = first; k < first + lanes; ++k) worst = std::max(worst, wait_of(k));
            if (worst <= 1e-9) {
                best = static_cast<long>(first);
                break;
            }
            if (overlap_ && (best < 0 || worst < best_wait)) {
                best = static_cast<long>(first);
                best_wait = worst;
            }
        }
        if (best >= 0)
            for (size_t k = static_cast<size_t>(best); k < static_cast<size_t>(best) + lanes; ++k) commit(k);
        return best;
    }

    double w_, h_, scroll_, fixed_, base_, lane_h_;
    bool overlap_;
    std::vector<Scroller> forward_, reverse_;
    std::vector<double> top_, bottom_;
};

void put_bgr(Out& out, uint32_t rgb) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const uint32_t bgr = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
    char hex[6];
    for (int k = 0; k < 6; ++k) hex[k] = kDigits[(bgr >> (20 - 4 * k)) & 0xF];
    out.put("&H").put(std::string_view(hex, 6)).put('&');
}

// Luma (0 to 255) below a quarter: #333333, navy, dark red and the like.
bool is_dark(uint32_t rgb) {
    const double luma = 0.299 * ((rgb >> 16) & 0xFF) + 0.587 * ((rgb >> 8) & 0xFF) + 0.114 * (rgb & 0xFF);
    return luma < 64;
}

// Whether a comment's text shows nothing: spaces, no-break spaces (ASS's \h too), word
// joiners and override blocks alone.
bool is_blank(std::string_view s) {
    static constexpr std::array<std::string_view, 4> kInvisible{"\xC2\xA0", "\xE2\x81\xA0", "\\h", "\xE3\x80\x80"};
    for (size_t i = 0; i < s.size();) {
        if (s[i] == ' ' || s[i] == '\t') {
            ++i;
            continue;
        }
        if (s[i] == '{') {
            const size_t close = s.find('}', i);
            if (close == std::string_view::npos) return false;
            i = close + 1;
            continue;
        }
        bool skipped = false;
        for (const std::string_view k : kInvisible)
            if (s.substr(i).starts_with(k)) {
                i += k.size();
                skipped = true;
                break;
            }
        if (!skipped) return false;
    }
    return true;
}

void put_int(Out& out, double v) {
    const long n = std::lround(v);
    if (n < 0) out.put('-');
    out.num(static_cast<uint64_t>(n < 0 ? -n : n));
}

} // namespace

void write_danmaku_ass(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes) {
    Lanes lanes(ws);
    AssStyle style;
    style.size = static_cast<uint64_t>(std::max(1L, std::lround(lanes.base())));
    style.outline = static_cast<uint64_t>(std::max(1L, std::lround(ws.canvas_height / 720.0)));
    style.alignment = 7;
    style.wrap_style = 2; // a comment is one line, however long
    put_ass_header(out, ws, style);

    CueLines lines(cues, Markup::Ass, ws);
    std::string text;
    size_t skipped = 0, dropped = 0, blank = 0;
    const double w = ws.canvas_width, h = ws.canvas_height, lane_h = lanes.lane_height();
    for (const size_t i : order_by_start(cues)) {
        const CueData c = cues.cue(i);
        const Motion m = motion_of(c.mode);
        if (m == Motion::None) {
            ++skipped;
            continue;
        }
        text.clear();
        for (const std::string& line : lines.of(i)) text.append(text.empty() ? "" : " ").append(line);
        if (is_blank(text)) {
            ++blank;
            continue;
        }
        const double scale = std::isfinite(c.fontsize) && c.fontsize > 0 ? c.fontsize / 25.0 : 1.0;
        const double size = std::clamp(lanes.base() * scale, 1.0, h);
        const double width = text_ems(text) * size;
        const size_t need = static_cast<size_t>(std::max(1.0, std::ceil(size * 1.1 / lane_h - 1e-9)));
        const double t = c.start_ms / 1000.0;
        const long lane = lanes.place(m, t, width, need);
        if (lane < 0) {
            ++dropped;
            continue;
        }
        const double y = static_cast<double>(lane) * lane_h;
        put_dialogue_start(out, c.start_ms, add_sat(c.start_ms, lanes.duration_ms(m)));
        out.put('{');
        switch (m) {
        case Motion::Scroll:
        case Motion::Reverse: {
            const double from = m == Motion::Scroll ? w : -width;
            const double to = m == Motion::Scroll ? -width : w;
            out.put("\\move(");
            put_int(out, from);
            out.put(',');
            put_int(out, y);
            out.put(',');
            put_int(out, to);
            out.put(',');
            put_int(out, y);
            out.put(')');
            break;
        }
        case Motion::Top:
        case Motion::Bottom:
            out.put(m == Motion::Top ? "\\an8\\pos(" : "\\an2\\pos(");
            put_int(out, w / 2);
            out.put(',');
            put_int(out, m == Motion::Top ? y : h - y);
            out.put(')');
            break;
        case Motion::None: break;
        }
        if (std::lround(size) != std::lround(lanes.base())) {
            out.put("\\fs");
            put_int(out, size);
        }
        if (c.color != 0xFFFFFF) {
            out.put("\\c");
            put_bgr(out, c.color);
            // A dark outline would hide dark text on dark video.
            if (is_dark(c.color)) out.put("\\3c&HFFFFFF&");
        }
        out.put('}').put(text).put('\n');
    }
    const auto count = [](size_t n) { return std::to_string(n) + (n == 1 ? " comment" : " comments"); };
    if (skipped) notes.push_back("danmaku: " + count(skipped) + " in modes without a layout skipped");
    if (dropped) notes.push_back("danmaku: " + count(dropped) + " without a free lane dropped");
    if (blank) notes.push_back("danmaku: " + count(blank) + " without text skipped");
}

} // namespace cuekit
