// TTML: one p per cue in a single div, lines separated by br, text escaped. The line feed after
// each br is only for the eye: TTML's default whitespace handling removes it.
#include "writers/writer.hpp"

namespace cuekit {

void write_ttml(const CueView& cues, const WriteSettings& ws, Out& out, Notes&) {
    out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"\">\n<body>\n<div>\n");
    CueLines lines(cues, Markup::Xml, ws);
    for (size_t i = 0; i < cues.size(); ++i) {
        const CueData c = cues.cue(i);
        out.put("<p begin=\"");
        put_clock(out, c.start_ms, 2, '.', 3);
        out.put("\" end=\"");
        put_clock(out, c.end_ms, 2, '.', 3);
        out.put("\">");
        put_joined(out, lines.of(i), "<br/>\n");
        out.put("</p>\n");
    }
    out.put("</div>\n</body>\n</tt>\n");
}

} // namespace cuekit
