// SubRip, and the block scanner it shares with WebVTT: blocks of lines separated by blank
// lines, where the first timing line of a block opens a cue and the lines after it are text.
#include "formats/formats.hpp"

namespace cuekit {
namespace {

// Arrow forms, in the order they are looked for over the whole line.
constexpr std::array<std::string_view, 3> kDelims{"-->", "- >", "->"};
constexpr size_t kLeftMax = 127;
constexpr size_t kRightMax = 255;

// The timing line nearly every file writes, "HH:MM:SS,mmm --> HH:MM:SS,mmm", read in place.
// Whatever follows it changes neither time, so this gives what the general reading gives.
bool canonical_tc(std::string_view line, int32_t& start, int32_t& end) {
    static constexpr Shape kTiming("DD:DD:DDFDDD --> DD:DD:DDFDDD");
    if (!kTiming.starts(line)) return false;
    start = clock_ms_at(line.substr(0, 12), 2);
    end = clock_ms_at(line.substr(17, 12), 2);
    return true;
}

} // namespace

bool srt_try_tc(std::string_view line, int32_t& start, int32_t& end) {
    if (canonical_tc(line, start, end)) return true;
    // Every arrow starts with '-': most lines that are no timing line (cue numbers, text)
    // are told by one short scan instead of one per arrow.
    if (std::find(line.begin(), line.end(), '-') == line.end()) return false;
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

namespace {

// A timing line that can stand inside a cue's text and still start the next cue: full
// "H:MM:SS,mmm" stamps on both sides of "-->", settings allowed after a space. Looser lines
// ("->", minutes and seconds only) stay text, so dialogue such as "at 10:30 -> 11:45" is
// never cut.
bool is_strict_timing_line(std::string_view line) {
    size_t n = full_stamp_length(line);
    if (n == 0) return false;
    std::string_view rest = trim_left(line.substr(n));
    if (!rest.starts_with("-->")) return false;
    rest = trim_left(rest.substr(3));
    n = full_stamp_length(rest);
    return n != 0 && (n == rest.size() || rest[n] == ' ' || rest[n] == '\t');
}

bool is_bare_number(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return is_digit(static_cast<unsigned char>(c)); });
}

} // namespace

int parse_timed_blocks(Store& st, std::string_view text, const BlockRules& rules) {
    bool timing = false;
    int cue = -1;
    // A bare number in a cue's text is held back: before a timing line it is the next cue's
    // identifier, not text.
    std::string_view number;
    // Lines come from the line scanner, so they hold no line break: each is stored as it is.
    auto add_held_number = [&] {
        if (!number.empty()) cue_add_line(st, cue, number);
        number = {};
    };
    auto close_block = [&] {
        add_held_number();
        // A timing line without any text line gives no cue.
        if (cue >= 0 && cue_line_count(st, cue) == 0) drop_last_cue(st);
        timing = false;
        cue = -1;
    };
    LineReader reader(text);
    std::string_view raw;
    while (reader.next(raw)) {
        // A NUL ends a line for this reading.
        const std::string_view full = reader.until_nul(raw);
        const std::string_view line = trim(full);
        int32_t s = 0, e = 0;
        if (line.empty()) {
            if (timing && rules.only_empty_line_ends_cue && !full.empty()) {
                add_held_number();
                continue;
            }
            close_block();
            continue;
        }
        if (timing) {
            if (is_strict_timing_line(line) && srt_try_tc(line, s, e)) {
                number = {};
                close_block();
                timing = true;
                cue = cue_add(st, s, e);
                continue;
            }
            add_held_number();
            if (is_bare_number(line))
                number = line;
            else
                cue_add_line(st, cue, line);
            continue;
        }
        if (rules.never_timing && rules.never_timing(line)) continue;
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
    parse_timed_blocks(st, text, {});
    return finish_parse(st, SUB_FORMAT_SRT, "no SRT cues");
}

} // namespace cuekit
