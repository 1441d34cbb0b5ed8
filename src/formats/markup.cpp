// Tag-and-attribute scanning shared by the markup parsers. Byte patterns only: no
// namespaces, nesting, CDATA or comments.
#include "formats/formats.hpp"

#include <algorithm>
#include <cstring>

namespace cuekit {

AttrValue xml_get_attr(std::string_view tag, std::string_view name, size_t max_len) {
    for (const char quote : {'"', '\''}) {
        // The pattern lives in a 64-byte buffer: a name beyond 61 bytes is cut there.
        std::array<char, 64> buf{};
        const size_t n = std::min(name.size(), buf.size() - 3);
        if (n != 0) std::memcpy(buf.data(), name.data(), n);
        buf[n] = '=';
        buf[n + 1] = quote;
        const std::string_view pattern(buf.data(), n + 2);
        const size_t at = ifind(tag, pattern);
        if (at == std::string_view::npos) continue;
        std::string_view value = tag.substr(at + pattern.size());
        const size_t close = value.find(quote);
        if (close != std::string_view::npos) value = value.substr(0, close);
        if (value.size() > max_len) value = value.substr(0, max_len);
        return {true, value};
    }
    return {};
}

namespace {

// Whether the inside of a tag (between '<' and '>') is a br start tag, whatever its prefix.
bool is_br_tag(std::string_view inside) {
    size_t n = 0;
    while (n < inside.size() && !is_space(static_cast<unsigned char>(inside[n])) && inside[n] != '/') ++n;
    std::string_view name = inside.substr(0, n);
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return ieq(name, "br");
}

} // namespace

namespace {
// Whether decoding would only trim `range`: no markup, reference, NUL or (collapsing) run of
// white space in it, and no cut.
bool only_trimmed(std::string_view range, TextRules rules) {
    if (range.size() > kTextMax) return false;
    char prev = 0;
    for (const char c : range) {
        if (c == '<' || c == '>' || c == '&' || c == '\0') return false;
        if (rules.collapse_space && (c == '\t' || c == '\n' || c == '\r' || (c == ' ' && prev == ' '))) return false;
        prev = c;
    }
    return true;
}
} // namespace

std::string_view xml_text_decode(std::string_view range, std::string& buf, TextRules rules) {
    // Plain text is handed back as a view of itself (the store then keeps it without a copy).
    if (only_trimmed(range, rules)) return trim(range);
    buf.resize(kTextMax + 1);
    char* out = buf.data();
    size_t w = 0;
    const char* p = range.data();
    const char* const end = p + range.size();
    while (p < end && w < kTextMax) {
        const char c = *p++;
        if (c == '<') {
            const void* gt = std::memchr(p, '>', static_cast<size_t>(end - p));
            if (!gt) break;
            const auto* close = static_cast<const char*>(gt);
            if (rules.br_breaks && is_br_tag(std::string_view(p, static_cast<size_t>(close - p)))) out[w++] = '\n';
            p = close + 1;
        } else if (rules.collapse_space && is_space(static_cast<unsigned char>(c))) {
            if (w == 0 || out[w - 1] != ' ') out[w++] = ' ';
        } else if (c != '>') {
            out[w++] = c;
        }
    }
    w = html_decode(out, w);
    return trim(std::string_view(out, w));
}

bool ElementScanner::next_tag(std::string_view& tag, size_t max_tag) {
    constexpr auto npos = std::string_view::npos;
    while (pos_ < text_.size()) {
        const size_t lt = exact_ ? text_.find(open_, pos_) : ifind(text_, open_, pos_);
        if (lt == npos) return false;
        const size_t name_end = lt + open_.size();
        if (name_ends_ && (name_end >= text_.size() || (text_[name_end] != ' ' && text_[name_end] != '>'))) {
            pos_ = name_end;
            continue;
        }
        const size_t gt = text_.find('>', name_end);
        if (gt == npos) return false; // an unterminated start tag ends the scan
        tag = text_.substr(lt, std::min(gt + 1 - lt, max_tag));
        gt_ = gt;
        pos_ = gt + 1;
        return true;
    }
    return false;
}

bool ElementScanner::body(std::string_view& inner) {
    const size_t close = close_.next(pos_);
    if (close == std::string_view::npos) return false;
    inner = text_.substr(pos_, close - pos_);
    pos_ = close + close_len_;
    return true;
}

} // namespace cuekit
