// SubViewer: an "[INFORMATION]" header, then timing lines "hh:mm:ss.cc,hh:mm:ss.cc" each
// followed by text lines in which "[br]" breaks the line.
#include "formats/formats.hpp"

namespace cuekit {
namespace {

constexpr int kFirstCueWindow = 20; // lines after the header that may hold the first timing line

// Two "DD:DD:DD.DD" stamps joined by a comma, from the line's first byte.
bool is_subviewer_ts(std::string_view l) {
    static constexpr Shape kTiming("DD:DD:DD.DD,DD:DD:DD.DD");
    return kTiming.starts(l);
}

// Adds each trimmed, non-empty piece between "[br]" or "[BR]" markers of one text line as a
// line of its own. A piece is a slice of the text, so it is kept as a view.
void subviewer_add_lines(Store& st, int index, std::string_view text) {
    size_t begin = 0;
    for (size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at)) {
        const std::string_view marker = text.substr(at, 4);
        if (marker != "[br]" && marker != "[BR]") {
            ++at;
            continue;
        }
        if (const std::string_view piece = trim(text.substr(begin, at - begin)); !piece.empty())
            cue_add_line(st, index, piece);
        at += 4;
        begin = at;
    }
    if (const std::string_view piece = trim(text.substr(begin)); !piece.empty()) cue_add_line(st, index, piece);
}

} // namespace

bool probe_subviewer(std::string_view t) { return t.starts_with("[INFORMATION]"); }

int parse_subviewer(Store& st, std::string_view text) {
    LineReader reader(text);
    std::string_view line;
    reader.next(line); // there is always a first line
    if (!ieq(until_nul(line), "[INFORMATION]")) {
        set_error(st, "SubViewer: missing [INFORMATION]");
        return SUB_ERR_PARSE;
    }
    std::string_view timing;
    for (int i = 0; i < kFirstCueWindow && timing.empty() && reader.next(line); ++i)
        if (is_subviewer_ts(until_nul(line))) timing = until_nul(line);
    if (timing.empty()) {
        set_error(st, "SubViewer: no timestamp");
        return SUB_ERR_PARSE;
    }

    while (!timing.empty()) {
        // The first comma (after the twelfth byte) separates the two stamps.
        const int32_t start = parse_hms_ms(timing.substr(0, 11), true);
        const int32_t end = parse_hms_ms(timing.substr(12), true);
        const bool wanted = start >= 0 && start < end;
        // The cue's text lines count as joined with LF and cut at kTextMax bytes. No marker
        // spans a join, so each line is split on its own and its pieces stay views.
        size_t joined = 0;
        int cue = -1;
        bool any_text = false;
        std::string_view next;
        while (next.empty() && reader.next(line)) {
            const std::string_view l = reader.until_nul(line);
            if (is_subviewer_ts(l)) {
                next = l;
            } else if (!l.empty()) {
                if (any_text) joined += joined < kTextMax ? 1 : 0;
                else if (wanted) cue = cue_add(st, start, end);
                any_text = true;
                const std::string_view kept = l.substr(0, kTextMax - joined);
                joined += kept.size();
                if (wanted) subviewer_add_lines(st, cue, kept);
            }
        }
        timing = next;
    }

    return finish_parse(st, SUB_FORMAT_SUBVIEWER, "no SubViewer cues");
}

} // namespace cuekit
