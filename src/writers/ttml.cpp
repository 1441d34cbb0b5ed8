// TTML: one p per cue in a single div, lines separated by br, text escaped. The line feed after
// each br is only for the eye: TTML's default whitespace handling removes it.
#include "writers/writer.hpp"

#include <algorithm>

namespace cuekit {

namespace {

// Whether whitespace handling would change the lines: a run of spaces or tabs, or one at
// either end of a line.
bool needs_preserve(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) {
        if (!l.empty() && (l.front() == ' ' || l.front() == '\t' || l.back() == ' ' || l.back() == '\t')) return true;
        for (size_t k = 1; k < l.size(); ++k)
            if ((l[k] == ' ' || l[k] == '\t') && (l[k - 1] == ' ' || l[k - 1] == '\t')) return true;
    }
    return false;
}

} // namespace

void write_ttml(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes) {
    out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"\">\n<body>\n<div>\n");
    CueLines lines(cues, Markup::Xml, ws);
    size_t lengthened = 0;
    for (size_t i = 0; i < cues.size(); ++i) {
        const CueData c = cues.cue(i);
        // The reader drops a paragraph without length: one millisecond at least.
        const int32_t start = std::max(c.start_ms, 0);
        int32_t end = c.end_ms;
        if (end <= start) {
            ++lengthened;
            end = start < INT32_MAX ? start + 1 : start;
        }
        out.put("<p begin=\"");
        put_clock(out, start == INT32_MAX ? start - 1 : start, 2, '.', 3);
        out.put("\" end=\"");
        put_clock(out, end, 2, '.', 3);
        const std::vector<std::string>& text = lines.of(i);
        // Kept whitespace makes a line feed after br part of the text.
        const bool preserve = needs_preserve(text);
        out.put(preserve ? "\" xml:space=\"preserve\">" : "\">");
        put_joined(out, text, preserve ? "<br/>" : "<br/>\n");
        out.put("</p>\n");
    }
    out.put("</div>\n</body>\n</tt>\n");
    note_times(notes, lengthened, 0, "millisecond");
}

} // namespace cuekit
