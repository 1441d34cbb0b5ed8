// ASS: a complete script with one style. Times are centiseconds, rounded to the nearest
// (halves up); a cue that is not empty but would round to no length keeps one centisecond.
#include "writers/writer.hpp"

#include <cmath>

namespace cuekit {
namespace {

constexpr std::string_view kDefaultFont = "sans-serif";

} // namespace

void put_ass_header(Out& out, const WriteSettings& ws, const AssStyle& style) {
    const auto alpha = static_cast<uint64_t>(std::lround((1.0 - ws.opacity) * 255.0));
    auto colour = [&](uint32_t bgr) {
        out.put("&H");
        char hex[9];
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const uint64_t v = (alpha << 24) | bgr;
        for (int k = 0; k < 8; ++k) hex[k] = kDigits[(v >> (28 - 4 * k)) & 0xF];
        out.put(std::string_view(hex, 8));
    };
    out.put("[Script Info]\nScriptType: v4.00+\nPlayResX: ").num(static_cast<uint64_t>(ws.canvas_width));
    out.put("\nPlayResY: ").num(static_cast<uint64_t>(ws.canvas_height));
    out.put("\nWrapStyle: ").num(style.wrap_style).put("\nScaledBorderAndShadow: yes\n\n[V4+ Styles]\n");
    out.put("Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
            "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
            "Alignment, MarginL, MarginR, MarginV, Encoding\n");
    out.put("Style: Default,").put(ws.font.empty() ? kDefaultFont : ws.font).put(',').num(style.size).put(',');
    colour(0xFFFFFF);
    out.put(',');
    colour(0x0000FF);
    out.put(',');
    colour(0x000000);
    out.put(',');
    colour(0x000000);
    out.put(",0,0,0,0,100,100,0,0,1,").num(style.outline).put(',').num(style.shadow).put(',').num(style.alignment);
    out.put(',').num(style.margin_lr).put(',').num(style.margin_lr).put(',').num(style.margin_v).put(",1\n\n");
    out.put("[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n");
}

unsigned put_dialogue_start(Out& out, int32_t start_ms, int32_t end_ms) {
    unsigned made = 0;
    int64_t start = to_centiseconds(start_ms);
    int64_t end = to_centiseconds(end_ms);
    if (end > kMaxCentiseconds || start >= kMaxCentiseconds) {
        made |= kClamped;
        start = std::min(start, kMaxCentiseconds - 1);
        end = std::min(end, kMaxCentiseconds);
    }
    // The reader drops an event without length: one centisecond at least.
    if (end <= start) {
        if (end_ms <= start_ms) made |= kLengthened;
        end = start + 1;
    }
    out.put("Dialogue: 0,");
    put_clock(out, start, 1, '.', 2);
    out.put(',');
    put_clock(out, end, 1, '.', 2);
    out.put(",Default,,0,0,0,,");
    return made;
}

void note_times(Notes& notes, size_t lengthened, size_t clamped, std::string_view unit) {
    const auto cues = [](size_t n) { return std::to_string(n) + (n == 1 ? " cue" : " cues"); };
    if (lengthened)
        notes.push_back(cues(lengthened) + " without length (or ending before the start) written one " +
                        std::string(unit) + " long");
    if (clamped) notes.push_back(cues(clamped) + " past the largest time ASS holds (596:31:23.64) cut there");
}

void write_ass(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes) {
    AssStyle style;
    style.size = static_cast<uint64_t>(std::max(1L, std::lround(ws.canvas_height / 20.0 * ws.font_scale)));
    style.outline = static_cast<uint64_t>(std::max(1L, std::lround(ws.canvas_height / 540.0)));
    style.shadow = 1;
    style.alignment = 2;
    style.margin_lr = static_cast<uint64_t>(ws.canvas_width / 96);
    style.margin_v = static_cast<uint64_t>(ws.canvas_height / 27);
    put_ass_header(out, ws, style);
    CueLines lines(cues, Markup::Ass, ws);
    size_t lengthened = 0, clamped = 0;
    for (size_t i = 0; i < cues.size(); ++i) {
        const CueData c = cues.cue(i);
        const unsigned made = put_dialogue_start(out, c.start_ms, c.end_ms);
        lengthened += (made & kLengthened) ? 1 : 0;
        clamped += (made & kClamped) ? 1 : 0;
        put_joined(out, lines.of(i), "\\N");
        out.put('\n');
    }
    note_times(notes, lengthened, clamped, "centisecond");
}

} // namespace cuekit
