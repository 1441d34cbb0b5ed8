// The structures a file of a format begins with. Detection asks these before the probes, which
// search the whole sample: a SubRip file whose text mentions "[Events]" or a namespace is
// still SubRip when its first block says so.
#include "formats/formats.hpp"

namespace cuekit {
namespace {

std::string_view first_line(std::string_view t, std::string_view& rest) {
    const size_t nl = t.find('\n');
    rest = nl == std::string_view::npos ? std::string_view{} : t.substr(nl + 1);
    return trim(t.substr(0, nl));
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s)
        if (!is_digit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

// A cue number on its own line followed by a timing line, or a timing line.
bool lead_srt(std::string_view t) {
    std::string_view rest;
    std::string_view line = first_line(t, rest);
    if (all_digits(line)) line = first_line(rest, rest);
    int32_t start = 0, end = 0;
    return line.find("-->") != std::string_view::npos && srt_try_tc(line, start, end);
}

// The root element is tt (with or without a prefix), after the declaration, comments and
// document type.
bool lead_ttml(std::string_view t) {
    while (true) {
        t = trim_left(t);
        if (t.starts_with("<?") || t.starts_with("<!")) {
            const std::string_view close = t.starts_with("<!--") ? "-->" : ">";
            const size_t at = t.find(close);
            if (at == std::string_view::npos) return false;
            t.remove_prefix(at + close.size());
            continue;
        }
        break;
    }
    if (!t.starts_with('<')) return false;
    size_t n = 1;
    while (n < t.size() && t[n] != '>' && t[n] != '/' && t[n] != ' ' && t[n] != '\t' && t[n] != '\r' && t[n] != '\n') ++n;
    std::string_view name = t.substr(1, n - 1);
    if (const size_t colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return name == "tt" && n < t.size();
}

// A time tag "[mm:ss.xx]" (or "[mm:ss]", "[mm:ss:xx]") first.
bool lead_lrc(std::string_view t) {
    size_t i = 1;
    const auto digits = [&] {
        const size_t from = i;
        while (i < t.size() && is_digit(static_cast<unsigned char>(t[i]))) ++i;
        return i > from;
    };
    if (!t.starts_with('[') || !digits() || i >= t.size() || t[i++] != ':' || !digits()) return false;
    if (i < t.size() && (t[i] == '.' || t[i] == ':')) {
        ++i;
        if (!digits()) return false;
    }
    return i < t.size() && t[i] == ']';
}

} // namespace cuekit
