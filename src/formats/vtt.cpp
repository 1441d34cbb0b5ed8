// WebVTT: the SubRip block scanner, except that header, comment, style and region lines
// are never taken for timing lines, and only a line without any character ends a cue (a
// line of spaces inside one, as auto-captions write, is no blank line).
#include "formats/formats.hpp"

namespace cuekit {
namespace {

constexpr std::array<std::string_view, 4> kKeywords{"WEBVTT", "NOTE", "STYLE", "REGION"};

bool vtt_is_keyword_line(std::string_view trimmed) {
    for (const std::string_view k : kKeywords)
        if (istarts_with(trimmed, k)) return true;
    return false;
}

} // namespace

bool probe_vtt(std::string_view t) { return t.starts_with("WEBVTT"); }

int parse_vtt(Store& st, std::string_view text) {
    parse_timed_blocks(st, text, {vtt_is_keyword_line, true});
    return finish_parse(st, SUB_FORMAT_VTT, "no VTT cues");
}

} // namespace cuekit
