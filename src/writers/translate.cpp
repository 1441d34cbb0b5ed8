// Markup translation between SubRip/WebVTT tags and ASS override codes, and the escapes that
// keep text from reading as markup in the target. Where a target has no escape of its own
// (SubRip's '<', ASS's "\N"), a WORD JOINER (U+2060, invisible) is put inside the pattern.
#include "writers/writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace cuekit {
namespace {

constexpr std::string_view kJoiner = "\xE2\x81\xA0"; // U+2060 WORD JOINER
constexpr std::string_view kNbsp = "\xC2\xA0";       // U+00A0 NO-BREAK SPACE

// The four on/off styles, one bit each, by their letter in both markups.
constexpr std::array<char, 4> kStyleLetters{'i', 'b', 'u', 's'};

int style_bit(std::string_view name) {
    if (name.size() != 1) return -1;
    for (size_t k = 0; k < kStyleLetters.size(); ++k)
        if (fold(static_cast<unsigned char>(name[0])) == static_cast<unsigned char>(kStyleLetters[k])) return static_cast<int>(k);
    return -1;
}

struct NamedColor {
    std::string_view name;
    uint32_t rgb;
};
constexpr std::array<NamedColor, 12> kColorNames{{
    {"white", 0xFFFFFF}, {"black", 0x000000}, {"red", 0xFF0000}, {"lime", 0x00FF00}, {"green", 0x008000},
    {"blue", 0x0000FF}, {"yellow", 0xFFFF00}, {"cyan", 0x00FFFF}, {"aqua", 0x00FFFF}, {"magenta", 0xFF00FF},
    {"fuchsia", 0xFF00FF}, {"gray", 0x808080},
}};

bool hex_value(std::string_view s, uint32_t& v) {
    if (s.empty() || s.size() > 8) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// "#RRGGBB", "#RGB" or a basic colour name.
bool html_color(std::string_view s, uint32_t& rgb) {
    s = trim(s);
    if (!s.empty() && s[0] == '#') {
        s.remove_prefix(1);
        uint32_t v = 0;
        if (s.size() == 6 && hex_value(s, v)) {
            rgb = v;
            return true;
        }
        if (s.size() == 3 && hex_value(s, v)) {
            rgb = ((v >> 8) & 0xF) * 0x110000 + ((v >> 4) & 0xF) * 0x1100 + (v & 0xF) * 0x11;
            return true;
        }
        return false;
    }
    for (const NamedColor& c : kColorNames)
        if (ieq(s, c.name)) {
            rgb = c.rgb;
            return true;
        }
    return false;
}

// "&HBBGGRR&" (alpha bits above, if any, ignored) as 0xRRGGBB.
bool ass_color(std::string_view s, uint32_t& rgb) {
    if (!s.empty() && s.back() == '&') s.remove_suffix(1);
    if (s.size() < 2 || s[0] != '&' || fold(static_cast<unsigned char>(s[1])) != 'h') return false;
    uint32_t bgr = 0;
    if (!hex_value(s.substr(2), bgr)) return false;
    rgb = ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
    return true;
}

void put_hex6(uint32_t v, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 20; shift >= 0; shift -= 4) out += kDigits[(v >> shift) & 0xF];
}

} // namespace

// A table of the bytes that need a look, per markup.
struct ByteSet {
    std::array<bool, 256> has{};
    constexpr explicit ByteSet(std::string_view bytes) {
        for (const char c : bytes) has[static_cast<unsigned char>(c)] = true;
    }
    char only = 0; // the byte of a set of one, found with memchr
    constexpr explicit ByteSet(std::string_view bytes, bool one) : ByteSet(bytes) { only = one ? bytes[0] : '\0'; }
    size_t find(std::string_view s, size_t from = 0) const {
        if (only) {
            const void* at = from < s.size() ? std::memchr(s.data() + from, only, s.size() - from) : nullptr;
            return at ? static_cast<size_t>(static_cast<const char*>(at) - s.data()) : std::string_view::npos;
        }
        for (size_t i = from; i < s.size(); ++i)
            if (has[static_cast<unsigned char>(s[i])]) return i;
        return std::string_view::npos;
    }
};

namespace {

constexpr ByteSet kTagStart("<", true);
constexpr ByteSet kVttStart("<&");
constexpr ByteSet kAssStart("{\\");
constexpr ByteSet kHtmlEscape("<", true);
constexpr ByteSet kXmlEscape("<>&");
constexpr ByteSet kAssEscape("{}\\");

bool tag_char(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (fold(u) >= 'a' && fold(u) <= 'z') || c == '/' || is_digit(u);
}

} // namespace

Markup source_markup(int format) {
    const FormatInfo* f = format_info(format);
    return f ? f->markup : Markup::Plain;
}

MarkupWriter::MarkupWriter(Markup from, Markup to, bool strip, int source)
    : from_(from), to_(to), styled_(!strip && has_styles(to)) {
    if (from == Markup::Html) {
        const FormatInfo* f = format_info(source);
        tags_ = (f && !f->tags.empty() ? f : format_info(SUB_FORMAT_SRT))->tags;
        // Players hide what SubRip holds in angle brackets; a SubRip copy keeps it as it was.
        verbatim_ = to == Markup::Html && source != SUB_FORMAT_SAMI;
    }
}

namespace {

// Whether the space-separated `list` holds `name` (any case).
bool names(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        const size_t sp = std::min(list.find(' '), list.size());
        if (ieq(list.substr(0, sp), name)) return true;
        list.remove_prefix(std::min(sp + 1, list.size()));
    }
    return false;
}

} // namespace

// Whether `tag` ("<...>" or "</...>") is one the source's markup has: a known name, no
// attributes on the one-letter styles nor on a closing tag.
bool MarkupWriter::is_tag(std::string_view tag) const {
    if (tags_.empty()) return true;
    const bool closing = tag[1] == '/';
    const std::string_view body = tag.substr(closing ? 2 : 1, tag.size() - (closing ? 3 : 2));
    if (body.find('<') != std::string_view::npos) return false;
    const size_t end = std::min(body.find_first_of(" \t\r\n/"), body.size());
    const std::string_view name = body.substr(0, end);
    const std::string_view rest = body.substr(end);
    if (!names(tags_, name)) return false;
    if (closing || style_bit(name) >= 0) return trim(rest).empty();
    return true;
}

void MarkupWriter::text(std::string_view s, std::string& out) {
    if (s.empty()) return;
    if (drawing_) return raw(s, false, out);
    end_block(out);
    switch (to_) {
    case Markup::Plain:
        out += s;
        return;
    case Markup::Html: {
        // '<' before something that could read as a tag name gets a joiner.
        size_t from = 0;
        for (size_t at = kHtmlEscape.find(s); at != std::string_view::npos; at = kHtmlEscape.find(s, at + 1)) {
            if (at + 1 < s.size() && !tag_char(s[at + 1])) continue;
            out.append(s.substr(from, at + 1 - from)).append(kJoiner);
            from = at + 1;
        }
        out.append(s.substr(from));
        return;
    }
    case Markup::Vtt:
    case Markup::Xml: {
        size_t from = 0;
        for (size_t at = kXmlEscape.find(s); at != std::string_view::npos; at = kXmlEscape.find(s, at + 1)) {
            out.append(s.substr(from, at - from));
            out.append(s[at] == '<' ? "&lt;" : s[at] == '>' ? "&gt;" : "&amp;");
            from = at + 1;
        }
        out.append(s.substr(from));
        return;
    }
    case Markup::Ass: {
        size_t from = 0;
        for (size_t at = kAssEscape.find(s); at != std::string_view::npos; at = kAssEscape.find(s, at + 1)) {
            out.append(s.substr(from, at - from));
            from = at + 1;
            if (s[at] != '\\') {
                out.append(s[at] == '{' ? "\\{" : "\\}");
                continue;
            }
            out += '\\';
            // A backslash before a letter of a line break, a hard space, a brace, or at the
            // end of the text (a block may follow) would be an escape.
            const char next = at + 1 < s.size() ? s[at + 1] : '{';
            if (next == 'N' || next == 'n' || next == 'h' || next == '{' || next == '}') out.append(kJoiner);
        }
        out.append(s.substr(from));
        return;
    }
    }
}

void MarkupWriter::block(std::string& out) {
    if (!in_block_) out += '{';
    in_block_ = true;
}

void MarkupWriter::end_block(std::string& out) {
    if (in_block_) out += '}';
    in_block_ = false;
}

void MarkupWriter::raw(std::string_view s, bool in_block, std::string& out) {
    // WebVTT's own tags (voices, classes) are no SubRip tags: SubRip would read them as text.
    const bool same = to_ == Markup::Ass ? from_ == Markup::Ass : from_ != Markup::Ass && !(from_ == Markup::Vtt && to_ == Markup::Html);
    // Markup cut by a line break would read as text on both sides of it.
    if (!styled_ || !same || s.empty() || holds_line_end(s)) return;
    if (to_ == Markup::Ass) {
        if (in_block)
            block(out);
        else
            end_block(out);
    }
    out += s;
}

namespace {

void put_close(int kind, std::string& out) {
    if (kind >= static_cast<int>(kStyleLetters.size())) {
        out.append("</font>");
        return;
    }
    out.append("</").append(1, kStyleLetters[static_cast<size_t>(kind)]).append(">");
}

} // namespace

void MarkupWriter::open_tag(int kind, uint32_t rgb, std::string& out) {
    open_.push_back({kind, rgb});
    if (kind != kFont) {
        out.append("<").append(1, kStyleLetters[static_cast<size_t>(kind)]).append(">");
        return;
    }
    out.append("<font color=\"#");
    put_hex6(rgb, out);
    out.append("\">");
}

// Closes `kind` and the tags opened inside it, then opens those again: tags stay nested.
void MarkupWriter::close_tag(int kind, std::string& out) {
    size_t at = open_.size();
    while (at > 0 && open_[at - 1].kind != kind) --at;
    if (at == 0) return;
    const std::vector<Open> inner(open_.begin() + static_cast<std::ptrdiff_t>(at), open_.end());
    for (size_t k = open_.size(); k >= at; --k) put_close(open_[k - 1].kind, out);
    open_.resize(at - 1);
    for (const Open& o : inner) open_tag(o.kind, o.rgb, out);
}

void MarkupWriter::style(unsigned bit, bool on, std::string& out) {
    if (!styled_) return;
    const char letter = kStyleLetters[bit];
    if (to_ == Markup::Ass) {
        block(out);
        out.append({'\\', letter, on ? '1' : '0'});
        return;
    }
    const auto kind = static_cast<int>(bit);
    const bool is_open = std::any_of(open_.begin(), open_.end(), [&](const Open& o) { return o.kind == kind; });
    if (on == is_open) return;
    if (on)
        open_tag(kind, 0, out);
    else
        close_tag(kind, out);
}

void MarkupWriter::color(bool set, uint32_t rgb, std::string& out) {
    if (!styled_) return;
    if (to_ == Markup::Ass) {
        block(out);
        out.append("\\c");
        if (set) {
            out.append("&H");
            put_hex6(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF), out);
            out += '&';
        }
        return;
    }
    close_tag(kFont, out);
    if (set) open_tag(kFont, rgb, out);
}

void MarkupWriter::end_cue(std::string& out) {
    end_block(out);
    if (styled_ && to_ != Markup::Ass)
        for (size_t k = open_.size(); k > 0; --k) put_close(open_[k - 1].kind, out);
    open_.clear();
    drawing_ = false;
    fonts_.clear();
}

void MarkupWriter::line(std::string_view line, std::string& out) {
    switch (from_) {
    case Markup::Html:
    case Markup::Vtt: read_tags(line, out); break;
    case Markup::Ass: read_ass(line, out); break;
    default: text(line, out); break;
    }
    end_block(out);
}

size_t MarkupWriter::text_until(std::string_view line, size_t pos, const ByteSet& specials, std::string& out) {
    const size_t at = specials.find(line, pos);
    text(line.substr(pos, at == std::string_view::npos ? std::string_view::npos : at - pos), out);
    return at;
}

void MarkupWriter::read_tags(std::string_view line, std::string& out) {
    const ByteSet& specials = from_ == Markup::Vtt ? kVttStart : kTagStart;
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t at = text_until(line, pos, specials, out);
        if (at == std::string_view::npos) return;
        if (line[at] == '&') {
            // A character reference: decoded up to the next ';' (or as it stands).
            const size_t semi = line.find(';', at);
            const size_t stop = semi == std::string_view::npos ? at + 1 : std::min(semi + 1, line.size());
            scratch_.assign(line.substr(at, stop - at));
            scratch_.resize(html_decode(scratch_.data(), scratch_.size()));
            text(scratch_, out);
            pos = stop;
            continue;
        }
        const size_t gt = line.find('>', at);
        if (gt == std::string_view::npos || at + 1 >= line.size() || !tag_char(line[at + 1])) {
            text(line.substr(at, 1), out);
            pos = at + 1;
            continue;
        }
        const std::string_view tag = line.substr(at, gt + 1 - at);
        if (!is_tag(tag)) {
            if (verbatim_ && styled_) {
                out += tag;
                pos = gt + 1;
            } else {
                text(line.substr(at, 1), out);
                pos = at + 1;
            }
            continue;
        }
        pos = gt + 1;
        const bool closing = tag[1] == '/';
        std::string_view name = tag.substr(closing ? 2 : 1, tag.size() - (closing ? 3 : 2));
        name = name.substr(0, name.find_first_of(tags_.empty() ? " \t./" : " \t\r\n/"));
        if (const int bit = style_bit(name); bit >= 0) {
            style(static_cast<unsigned>(bit), !closing, out);
            continue;
        }
        if (ieq(name, "font")) {
            if (closing) {
                if (fonts_.empty()) {
                    raw(tag, false, out);
                    continue;
                }
                const int64_t was = fonts_.back();
                fonts_.pop_back();
                if (was < 0) {
                    raw(tag, false, out);
                    continue;
                }
                // Back to the colour of the font tag around this one, if any.
                int64_t outer = -1;
                for (auto it = fonts_.rbegin(); it != fonts_.rend() && outer < 0; ++it) outer = *it;
                color(outer >= 0, static_cast<uint32_t>(outer < 0 ? 0 : outer), out);
                continue;
            }
            AttrValue value = xml_get_attr(tag, "color", 63);
            if (!value.found) {
                const size_t eq = ifind(tag, "color=");
                if (eq != std::string_view::npos) {
                    std::string_view v = tag.substr(eq + 6);
                    value = {true, v.substr(0, v.find_first_of(" \t>"))};
                }
            }
            uint32_t rgb = 0;
            if (value.found && html_color(value.value, rgb)) {
                fonts_.push_back(rgb);
                color(true, rgb, out);
            } else {
                fonts_.push_back(-1);
                raw(tag, false, out);
            }
            continue;
        }
        // A SAMI tag SubRip lacks would read as text there.
        if (to_ != Markup::Html || tags_.empty() || names(format_info(SUB_FORMAT_SRT)->tags, name)) raw(tag, false, out);
    }
}

void MarkupWriter::read_ass_code(std::string_view code, std::string& out) {
    // The code's name: a digit and letters ("1c") or letters ("bord"); the rest is its value.
    size_t n = (!code.empty() && is_digit(static_cast<unsigned char>(code[0]))) ? 1 : 0;
    while (n < code.size() && fold(static_cast<unsigned char>(code[n])) >= 'a' && fold(static_cast<unsigned char>(code[n])) <= 'z') ++n;
    const std::string_view name = code.substr(0, n);
    const std::string_view value = trim(code.substr(n));
    if (const int bit = style_bit(name); bit >= 0 && name[0] == kStyleLetters[static_cast<size_t>(bit)]) {
        int v = 0;
        const bool numeric = std::from_chars(value.data(), value.data() + value.size(), v).ec == std::errc();
        if (value.empty() || numeric) {
            // \b takes a weight too: 700 and above reads as bold.
            style(static_cast<unsigned>(bit), numeric && (v == 1 || (bit == 1 && v >= 700)), out);
            return;
        }
    }
    if (name == "c" || name == "1c") {
        uint32_t rgb = 0;
        if (value.empty()) return color(false, 0, out);
        if (ass_color(value, rgb)) return color(true, rgb, out);
    }
    if (name == "r" && value.empty()) {
        for (unsigned bit = 0; bit < kStyleLetters.size(); ++bit) style(bit, false, out);
        color(false, 0, out);
        drawing_ = false;
        return;
    }
    if (name == "p") {
        int v = 0;
        std::from_chars(value.data(), value.data() + value.size(), v);
        drawing_ = v > 0;
    }
    scratch_.clear(); // assign-then-append trips g++ 12's -Wrestrict at -O3
    scratch_ += '\\';
    scratch_ += code;
    raw(scratch_, true, out);
}

void MarkupWriter::read_ass(std::string_view line, std::string& out) {
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t at = text_until(line, pos, kAssStart, out);
        if (at == std::string_view::npos) return;
        if (line[at] == '\\') {
            const std::string_view rest = line.substr(at + 1);
            pos = at + 2;
            if (rest.starts_with("h")) {
                text(kNbsp, out);
            } else if (rest.starts_with("{") || rest.starts_with("}")) {
                text(rest.substr(0, 1), out);
            } else if (rest.starts_with(kJoiner)) {
                text("\\", out); // our own mark of a backslash that is text
                pos = at + 1 + kJoiner.size();
            } else {
                text("\\", out);
                pos = at + 1;
            }
            continue;
        }
        const size_t close = line.find('}', at);
        if (close == std::string_view::npos) {
            text(line.substr(at), out);
            return;
        }
        const std::string_view inside = line.substr(at + 1, close - at - 1);
        pos = close + 1;
        size_t slash = inside.find('\\');
        if (slash != 0) raw(inside.substr(0, slash), true, out); // a comment in the block
        while (slash != std::string_view::npos) {
            const size_t next = inside.find('\\', slash + 1);
            read_ass_code(inside.substr(slash + 1, next == std::string_view::npos ? std::string_view::npos : next - slash - 1), out);
            slash = next;
        }
    }
}

} // namespace cuekit
