// Bilibili danmaku: every `d` element is one comment; its `p` attribute carries
// time,mode,size,colour,... and its character data is the comment text.
#include "formats/danmaku.hpp"

#include <algorithm>

namespace cuekit {
namespace {

constexpr size_t kTagMax = 1023;
constexpr size_t kPMax = 511;

// Comment style from the `p` list: time in seconds, mode, font size, colour; a missing
// token keeps its default (time 0).
void read_p(std::string_view p, int32_t& start_ms, DanmakuStyle& style) {
    const DanmakuTokens tok(p);
    start_ms = tok[0] ? danmaku_time_ms(tok[0]) : 0;
    if (tok[1]) style.mode = danmaku_mode(tok[1]);
    if (tok[2]) style.fontsize = danmaku_fontsize(tok[2], style.fontsize);
    if (tok[3]) style.color = danmaku_color(tok[3]);
}

// The `p` attribute. Nearly every comment starts `<d p="`, and there the search for the
// attribute could find nothing earlier, so the value is read in place.
AttrValue p_attribute(std::string_view tag) {
    constexpr std::string_view kLead = "<d p=\"";
    if (!tag.starts_with(kLead)) return xml_get_attr(tag, "p", kPMax);
    std::string_view value = tag.substr(kLead.size());
    value = value.substr(0, std::min(value.find('"'), kPMax));
    return {true, value};
}

} // namespace

bool probe_bilibili(std::string_view t) { return contains(t, "<d p=") || contains(t, "<d p =\""); }

int parse_bilibili(Store& st, std::string_view text) {
    text = until_nul(text);
    std::string buf;
    std::string flat;
    int parsed = 0;
    XmlElements elements(text, "<d ", "</d>", true, false);
    std::string_view tag;
    while (elements.next_tag(tag, kTagMax)) {
        const AttrValue p = p_attribute(tag);
        std::string_view inner;
        if (!p.found || !elements.body(inner, flat)) continue;
        const std::string_view comment = xml_text_decode(inner, buf);

        int32_t start_ms = 0;
        DanmakuStyle style;
        read_p(p.value, start_ms, style);
        if (add_danmaku(st, start_ms, style, comment)) ++parsed;
    }
    return finish_parse(st, SUB_FORMAT_BILIBILI, parsed > 0, "no Bilibili danmaku");
}

} // namespace cuekit
