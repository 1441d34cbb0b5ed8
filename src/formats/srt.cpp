// SubRip, and the block scanner it shares with WebVTT: blocks of lines separated by blank
// lines, where the first timing line of a block opens a cue and the lines after it are text.
#include "formats/formats.hpp"

namespace cuekit {
namespace {

// Arrow forms, in the order they are looked for over the whole line.
constexpr std::array<std::string_view, 3> kDelims{"-->", "- >", "->"};
constexpr size_t kLeftMax = 127;
constexpr size_t kRightMax = 255;

} // namespace

bool srt_try_tc(std::string_view line, int32_t& start, int32_t& end) {
    for (const std::string_view d : kDelims) {
        const size_t at = line.find(d);
        if (at == std::string_view::npos) continue;
        const int32_t s = parse_hms_ms(line.substr(0, std::min(at, kLeftMax)), false);
        const int32_t e = parse_hms_ms(line.substr(at + d.size(), kRightMax), false);
        if (s < 0 || e < 0) return false;
        start = s;
        end = e;
        return true;
    }
    return false;
}

int parse_timed_blocks(Store& st, std::string_view text, bool (*never_timing)(std::string_view)) {
    bool timing = false;
    int cue = -1;
    auto close_block = [&] {
        // A timing line without any text line gives no cue.
        if (cue >= 0 && cue_line_count(st, cue) == 0) drop_last_cue(st);
        timing = false;
        cue = -1;
    };
    LineReader reader(text);
    std::string_view raw;
    while (reader.next(raw)) {
        const std::string_view line = trim(until_nul(raw));
        if (line.empty()) {
            close_block();
            continue;
        }
        if (timing) {
            if (cue >= 0) cue_add_line(st, cue, line);
            continue;
        }
        if (never_timing && never_timing(line)) continue;
        int32_t s = 0, e = 0;
        if (srt_try_tc(line, s, e)) {
            timing = true;
            cue = cue_add(st, s, e);
        }
    }
    close_block();
    return 0;
}

bool probe_srt(std::string_view t) { return contains(t, "-->") || contains(t, "- >") || contains(t, "->"); }

int parse_srt(Store& st, std::string_view text) {
    parse_timed_blocks(st, text, nullptr);
    return finish_parse(st, SUB_FORMAT_SRT, "no SRT cues");
}

} // namespace cuekit
