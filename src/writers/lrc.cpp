// LRC: "[mm:ss.xx]" before each lyric line, in time order; every line of a cue gets the cue's
// tag. LRC has no end times: a lyric lasts until the next one, so a gap before the next cue
// (and the end of the last) is marked by an empty lyric at the cue's end. Overlapping cues
// cannot be told apart and end where the next begins. A line that begins with '[' would read
// as one more tag, so it gets a word joiner in front.
#include "writers/writer.hpp"

#include <algorithm>

namespace cuekit {
namespace {

constexpr std::string_view kJoiner = "\xE2\x81\xA0";

void put_tag(Out& out, int64_t cs) {
    out.put('[').num(static_cast<uint64_t>(cs / 6000), 2).put(':').num(static_cast<uint64_t>(cs / 100 % 60), 2);
    out.put('.').num(static_cast<uint64_t>(cs % 100), 2).put(']');
}

} // namespace

void write_lrc(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes) {
    CueLines lines(cues, Markup::Plain, ws);
    const std::vector<size_t> order = order_by_start(cues);
    // Each cue's tag, one centisecond after the one before at least: the reader joins lyrics
    // of one moment into one cue. Past the largest time there is no room: such cues share it.
    std::vector<int64_t> starts(order.size());
    size_t shared = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        starts[k] = std::max(to_centiseconds(cues.cue(order[k]).start_ms), k ? starts[k - 1] + 1 : 0);
        if (starts[k] > kMaxCentiseconds) {
            starts[k] = kMaxCentiseconds;
            ++shared;
        }
    }
    if (shared)
        notes.push_back(std::to_string(shared) + (shared == 1 ? " cue" : " cues") +
                        " past the largest time LRC holds (596:31:23.64) written there, joined with the cue before");
    for (size_t k = 0; k < order.size(); ++k) {
        const CueData c = cues.cue(order[k]);
        const std::vector<std::string>& text = lines.of(order[k]);
        if (text.empty()) {
            put_tag(out, starts[k]);
            out.put('\n');
        }
        for (const std::string& line : text) {
            put_tag(out, starts[k]);
            if (!line.empty() && line[0] == '[') out.put(kJoiner);
            out.put(line).put('\n');
        }
        // A cue that is not empty keeps one centisecond, however short.
        if (c.end_ms <= c.start_ms) continue;
        const int64_t end = std::min(std::max(to_centiseconds(c.end_ms), starts[k] + 1), kMaxCentiseconds);
        if (end > starts[k] && (k + 1 == order.size() || starts[k + 1] > end)) {
            put_tag(out, end);
            out.put('\n');
        }
    }
}

} // namespace cuekit
