// YouTube timed text: `text` elements with `start` and `dur` in seconds, the caption as
// character data. Times are computed in single precision (32-bit floats), so that values such
// as 1.005 s give 1005 ms.
#include "internal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace cuekit {
namespace {

constexpr size_t kTagMax = 511;
constexpr size_t kValueMax = 63;
constexpr std::string_view kOpen = "<text";
constexpr std::string_view kClose = "</text>";

// strtod of an attribute value, as a 32-bit float. NaN reads as 0; a value beyond the float
// range becomes an infinity of its sign (the plain conversion is not defined for it).
float seconds_value(std::string_view value) {
    std::array<char, kValueMax + 1> buf{};
    value = value.substr(0, kValueMax);
    if (!value.empty()) std::memcpy(buf.data(), value.data(), value.size());
    const double v = std::strtod(buf.data(), nullptr);
    if (std::isnan(v)) return 0.0f;
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax) return std::numeric_limits<float>::infinity();
    if (v < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

int32_t float_ms(float seconds) {
    const float ms = seconds * 1000.0f; // rounded to float here, whatever the evaluation precision
    return saturate_i32(static_cast<double>(ms));
}

} // namespace

int parse_ytxml(sub_state& st, std::string_view text) {
    text = until_nul(text);
    constexpr auto npos = std::string_view::npos;
    std::string buf;
    size_t pos = 0;
    // Remembers where "</text>" is (or that it is gone), so unterminated elements stay linear.
    ForwardFinder closing(text, kClose);
    while (pos < text.size()) {
        const size_t lt = ifind(text, kOpen, pos);
        if (lt == npos) break;
        const size_t name_end = lt + kOpen.size();
        if (name_end >= text.size() || (text[name_end] != ' ' && text[name_end] != '>')) {
            pos = name_end; // a longer name such as textarea, or a name followed by other space
            continue;
        }
        const size_t gt = text.find('>', name_end);
        if (gt == npos) break;
        const std::string_view tag = text.substr(lt, std::min(gt + 1 - lt, kTagMax));
        pos = gt + 1;

        if (text[gt - 1] == '/') continue; // self-closing: no caption
        const size_t close = closing.next(pos);
        if (close == npos) continue;
        const std::string_view caption = xml_text_decode(text.substr(pos, close - pos), buf);
        pos = close + kClose.size();

        const float s = seconds_value(xml_get_attr(tag, "start", kValueMax).value);
        const float d = seconds_value(xml_get_attr(tag, "dur", kValueMax).value);
        const int32_t start = float_ms(s);
        const int32_t end = float_ms(s + d);
        if (start < end && !caption.empty()) {
            const int idx = cue_add(st, start, end);
            cue_add_line(st, idx, caption);
        }
    }
    return finish_parse(st, 6, "no YouTube XML cues");
}

} // namespace cuekit
