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

} // namespace

int parse_bilibili(sub_state& st, std::string_view text) {
    text = until_nul(text);
    constexpr auto npos = std::string_view::npos;
    std::string buf;
    int parsed = 0;
    size_t pos = 0;
    // Remembers where "</d>" is (or that it is gone), so unterminated elements stay linear.
    ForwardFinder closing(text, "</d>", true);
    while (pos < text.size()) {
        const size_t lt = text.find("<d ", pos);
        if (lt == npos) break;
        const size_t gt = text.find('>', lt + 3);
        if (gt == npos) break;
        const std::string_view tag = text.substr(lt, std::min(gt + 1 - lt, kTagMax));
        pos = gt + 1;

        const AttrValue p = xml_get_attr(tag, "p", kPMax);
        if (!p.found) continue;
        const size_t close = closing.next(pos);
        if (close == npos) continue;
        const std::string_view comment = xml_text_decode(text.substr(pos, close - pos), buf);

        int32_t start_ms = 0;
        DanmakuStyle style;
        read_p(p.value, start_ms, style);
        if (add_danmaku(st, start_ms, style, comment)) ++parsed;
        pos = close + 4;
    }
    if (parsed > 0) {
        st.format = 9;
        return 0;
    }
    set_error(st, "no Bilibili danmaku");
    return 5;
}

} // namespace cuekit
