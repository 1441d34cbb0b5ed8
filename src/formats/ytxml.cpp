// YouTube timed text in its two forms. The older has `text` elements with `start` and `dur`
// in seconds, computed in single precision (32-bit floats), so that values such as 1.005 s
// give 1005 ms. The newer (root `<timedtext format="3">`) has `p` elements with `t` and `d`
// in milliseconds. In both, a line feed or a br element in the caption separates lines.
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

// The older form: `text` elements, times in seconds.
void read_text_elements(Store& st, std::string_view text, MarkupText& markup) {
    XmlElements elements(text, kOpen, kClose, false, true);
    std::string_view tag;
    std::string flat;
    while (elements.next_tag(tag, kTagMax)) {
        std::string_view inner;
        if (elements.self_closing() || !elements.body(inner, flat)) continue; // no caption
        const std::string_view caption = markup.decode(inner, {.br_breaks = true});

        const TagAttributes attrs(tag);
        const float s = seconds_value(attrs.get("start", kValueMax).value);
        const float d = seconds_value(attrs.get("dur", kValueMax).value);
        const int32_t start = float_ms(s);
        const int32_t end = float_ms(s + d);
        if (start < end && !caption.empty()) markup.add_to(st, cue_add(st, start, end));
    }
}

int32_t ms_value(const TagAttributes& attrs, std::string_view name) {
    return atoi_sat(CStringCopy<kValueMax>(attrs.get(name, kValueMax).value).c_str());
}

// The newer form: `p` elements with `t` and `d` in milliseconds, the text possibly split
// into `s` word segments, which join as written.
void read_paragraphs(Store& st, std::string_view text, MarkupText& markup) {
    XmlElements elements(text, "<p", "</p>", false, true);
    std::string_view tag;
    std::string flat;
    while (elements.next_tag(tag, kTagMax)) {
        std::string_view inner;
        if (elements.self_closing() || !elements.body(inner, flat)) continue;
        const std::string_view caption = markup.decode(inner, {.br_breaks = true});
        const TagAttributes attrs(tag);
        const int32_t start = ms_value(attrs, "t");
        const int32_t end = add_sat(start, ms_value(attrs, "d"));
        if (start < end && !caption.empty()) markup.add_to(st, cue_add(st, start, end));
    }
}

// Whether the document is the newer form: its root is `<timedtext format="3">`.
bool is_format3(std::string_view text) {
    // The root element comes after the declaration, comments and a document type.
    size_t p = 0;
    for (;;) {
        p = text.find('<', p);
        if (p == std::string_view::npos) return false;
        const std::string_view rest = text.substr(p);
        if (rest.starts_with("<!--")) {
            p = text.find("-->", p + 4);
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            p = text.find('>', p + 2);
        } else {
            break;
        }
        if (p == std::string_view::npos) return false;
    }
    constexpr std::string_view kRoot = "<timedtext";
    const std::string_view root = text.substr(p);
    if (!root.starts_with(kRoot) || root.size() == kRoot.size()) return false;
    const char after = root[kRoot.size()];
    if (!is_space(static_cast<unsigned char>(after)) && after != '>') return false;
    const size_t gt = root.find('>');
    const AttrValue format = xml_get_attr(root.substr(0, gt == std::string_view::npos ? root.size() : gt + 1),
                                          "format", kValueMax);
    return format.found && format.value == "3";
}

} // namespace

bool probe_ytxml(std::string_view sample) {
    return is_format3(sample) || (contains(sample, "<text ") && contains(sample, "start=") && contains(sample, "dur="));
}

int parse_ytxml(Store& st, std::string_view text) {
    text = until_nul(text);
    MarkupText markup;
    if (is_format3(text))
        read_paragraphs(st, text, markup);
    else
        read_text_elements(st, text, markup);
    return finish_parse(st, SUB_FORMAT_YTXML, "no YouTube XML cues");
}

} // namespace cuekit
