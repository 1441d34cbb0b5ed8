// SubRip, and the block writer WebVTT shares: a timing line, the text lines, a blank line.
// An empty text line would end the block, so it is written as one no-break space; a text line
// that would read as a timing line gets a word joiner inside its arrow.
#include "writers/writer.hpp"

namespace cuekit {
namespace {

constexpr std::string_view kNbsp = "\xC2\xA0";
constexpr std::string_view kBrokenArrow = "--\xE2\x81\xA0>";

// Whether the line holds one of the arrows of a timing line ("-->", "- >", "->"): each ends
// in "->" or "- >". Most lines hold no '>' at all.
bool has_arrow(std::string_view line) {
    for (size_t at = line.find('>'); at != std::string_view::npos; at = line.find('>', at + 1))
        if (at >= 1 && (line[at - 1] == '-' || (at >= 2 && line[at - 1] == ' ' && line[at - 2] == '-'))) return true;
    return false;
}

void put_line(Out& out, const std::string& line, bool vtt) {
    if (trim(line).empty()) {
        out.put(kNbsp);
    } else if (int32_t s = 0, e = 0; !vtt && has_arrow(line) && srt_try_tc(line, s, e)) {
        // WebVTT text never holds "-->": its '>' is escaped already.
        std::string_view rest = line;
        for (size_t at = rest.find("-->"); at != std::string_view::npos; at = rest.find("-->")) {
            out.put(rest.substr(0, at)).put(kBrokenArrow);
            rest.remove_prefix(at + 3);
        }
        out.put(rest);
    } else {
        out.put(line);
    }
    out.put('\n');
}

} // namespace

void write_timed_blocks(const CueView& cues, const WriteSettings& ws, Out& out, bool vtt) {
    const char sep = vtt ? '.' : ',';
    if (vtt) out.put("WEBVTT\n\n");
    CueLines lines(cues, vtt ? Markup::Vtt : Markup::Html, ws);
    for (size_t i = 0; i < cues.size(); ++i) {
        const CueData c = cues.cue(i);
        if (!vtt) out.num(i + 1).put('\n');
        put_clock(out, c.start_ms, 2, sep, 3);
        out.put(" --> ");
        put_clock(out, c.end_ms, 2, sep, 3);
        out.put('\n');
        const std::vector<std::string>& text = lines.of(i);
        if (text.empty()) out.put(kNbsp).put('\n');
        for (const std::string& line : text) put_line(out, line, vtt);
        out.put('\n');
    }
}

void write_srt(const CueView& cues, const WriteSettings& ws, Out& out, Notes&) { write_timed_blocks(cues, ws, out, false); }

} // namespace cuekit
