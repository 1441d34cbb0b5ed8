// LRC: "[mm:ss.xx]" before each lyric line, in time order; every line of a cue gets the cue's
// tag. LRC has no end times: a lyric lasts until the next one, so a gap before the next cue
// (and the end of the last) is marked by an empty lyric at the cue's end. Overlapping cues
// cannot be told apart and end where the next begins. A line that begins with '[' would read
// as one more tag, so it gets a word joiner in front.
#include "writers/writer.hpp"

namespace cuekit {
namespace {

constexpr std::string_view kJoiner = "\xE2\x81\xA0";

void put_tag(Out& out, int32_t ms) {
    const int64_t cs = to_centiseconds(ms);
    out.put('[').num(static_cast<uint64_t>(cs / 6000), 2).put(':').num(static_cast<uint64_t>(cs / 100 % 60), 2);
    out.put('.').num(static_cast<uint64_t>(cs % 100), 2).put(']');
}

} // namespace

void write_lrc(const CueView& cues, const WriteSettings& ws, Out& out, Notes&) {
    CueLines lines(cues, Markup::Plain, ws);
    const std::vector<size_t> order = order_by_start(cues);
    for (size_t k = 0; k < order.size(); ++k) {
        const CueData c = cues.cue(order[k]);
        const std::vector<std::string>& text = lines.of(order[k]);
        if (text.empty()) {
            put_tag(out, c.start_ms);
            out.put('\n');
        }
        for (const std::string& line : text) {
            put_tag(out, c.start_ms);
            if (!line.empty() && line[0] == '[') out.put(kJoiner);
            out.put(line).put('\n');
        }
        const bool gap = k + 1 == order.size() || to_centiseconds(cues.cue(order[k + 1]).start_ms) > to_centiseconds(c.end_ms);
        if (gap && to_centiseconds(c.end_ms) > to_centiseconds(c.start_ms)) {
            put_tag(out, c.end_ms);
            out.put('\n');
        }
    }
}

} // namespace cuekit
