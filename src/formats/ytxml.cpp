// YouTube timed text: `text` elements with `start` and `dur` in seconds, the caption as
// character data. Times are computed in single precision (32-bit floats), so that values such
// as 1.005 s give 1005 ms.
#include "formats/formats.hpp"

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
    const double v = strtod_fast(CStringCopy<kValueMax>(value).c_str(), nullptr);
    return std::isnan(v) ? 0.0f : narrow_to_float(v);
}

int32_t float_ms(float seconds) {
    const float ms = seconds * 1000.0f; // rounded to float here, whatever the evaluation precision
    return saturate_i32(static_cast<double>(ms));
}

} // namespace

bool probe_ytxml(std::string_view t) { return contains(t, "<text ") && contains(t, "start=") && contains(t, "dur="); }

int parse_ytxml(Store& st, std::string_view text) {
    text = until_nul(text);
    std::string buf;
    ElementScanner elements(text, kOpen, kClose, false, true);
    std::string_view tag;
    while (elements.next_tag(tag, kTagMax)) {
        std::string_view inner;
        if (elements.self_closing() || !elements.body(inner)) continue; // no caption
        const std::string_view caption = xml_text_decode(inner, buf);

        const float s = seconds_value(xml_get_attr(tag, "start", kValueMax).value);
        const float d = seconds_value(xml_get_attr(tag, "dur", kValueMax).value);
        const int32_t start = float_ms(s);
        const int32_t end = float_ms(s + d);
        if (start < end && !caption.empty()) {
            const int idx = cue_add(st, start, end);
            cue_add_line(st, idx, caption);
        }
    }
    return finish_parse(st, SUB_FORMAT_YTXML, "no YouTube XML cues");
}

} // namespace cuekit
