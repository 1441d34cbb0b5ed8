// LRC lyrics: lines that begin with bracketed time tags, each tag a moment at which the rest
// of the line is sung, plus metadata tags of which only "offset" matters. Entries are ordered
// by time and each lasts until the next later entry starts.
#include "formats/formats.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

namespace cuekit {
namespace {

constexpr size_t kTagMax = 127;
constexpr size_t kKeyMax = 31;
constexpr size_t kTimesPerLine = 16;
constexpr int32_t kLastDuration = 3000;

struct Entry {
    int32_t time;
    std::string_view text;
};

struct LineTimes {
    std::array<int32_t, kTimesPerLine> times{};
    size_t count = 0;
};

// One tag's content (between the brackets): a time tag "mm:ss.xx" or a metadata tag "key:value".
void read_tag(std::string_view content, LineTimes& line, double& offset) {
    content = content.substr(0, kTagMax);
    const size_t colon = content.find(':');
    if (colon == std::string_view::npos) return;
    const CStringCopy<kTagMax> copy(content);
    const char* value = copy.c_str() + colon + 1;

    if (is_digit(static_cast<unsigned char>(content[0]))) {
        // Minutes are widened before scaling so that no count of them can overflow.
        const int64_t minutes = atoi_sat(copy.c_str());
        const double seconds = strtod_fast(value, nullptr);
        const int32_t t = saturate_i32((seconds + static_cast<double>(minutes * 60)) * 1000.0);
        if (line.count < kTimesPerLine) line.times[line.count++] = t;
        return;
    }
    if (ieq(content.substr(0, std::min(colon, kKeyMax)), "offset")) offset = strtod_fast(value, nullptr);
}

// A line's chain of tags; the lyric text is whatever follows the last tag of the chain.
void read_line(std::string_view line, std::vector<Entry>& entries, double& offset) {
    LineTimes times;
    std::string_view lyric;
    size_t open = 0;
    for (;;) {
        const size_t close = line.find(']', open + 1);
        if (close == std::string_view::npos) {
            lyric = line.substr(open);
            break;
        }
        read_tag(line.substr(open + 1, close - open - 1), times, offset);
        if (close + 1 < line.size() && line[close + 1] == '[') {
            open = close + 1;
            continue;
        }
        lyric = line.substr(close + 1);
        break;
    }
    lyric = trim(lyric);
    for (size_t i = 0; i < times.count; ++i) entries.push_back({times.times[i], lyric});
}

// One cue per distinct time, holding the lyrics of every entry at that time in file order
// (a translated file gives the original and its translation); an empty lyric counts only
// when all at that time are empty. A cue lasts until the next later time. Positions are
// sorted rather than the entries, which are six times their size.
void emit_cues(Store& st, const std::vector<Entry>& entries) {
    const size_t n = entries.size();
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return entries[a].time < entries[b].time; });
    for (size_t g = 0; g < n;) {
        const int32_t time = entries[order[g]].time;
        size_t h = g + 1;
        while (h < n && entries[order[h]].time == time) ++h;
        const int32_t end = h < n ? entries[order[h]].time : add_sat(time, kLastDuration);
        const int cue = cue_add(st, time, end);
        bool any = false;
        for (size_t i = g; i < h; ++i) {
            const std::string_view lyric = entries[order[i]].text;
            if (lyric.empty()) continue;
            cue_add_text(st, cue, lyric);
            any = true;
        }
        if (!any) cue_add_text(st, cue, "");
        g = h;
    }
}

} // namespace

bool probe_lrc(std::string_view t) {
    if (!t.starts_with('[')) return false;
    const bool tagged = contains(t, "[ti:") || contains(t, "[ar:") ||
                        (t.size() > 1 && is_digit(static_cast<unsigned char>(t[1])) && contains(t, ":"));
    return tagged && contains(t, "]") && (contains(t, "[0") || contains(t, "[1") || contains(t, "[ti"));
}

int parse_lrc(Store& st, std::string_view text) {
    std::vector<Entry> entries;
    double offset = 0;
    LineReader reader(text);
    std::string_view raw;
    while (reader.next(raw)) {
        const std::string_view line = trim(until_nul(raw));
        if (line.empty() || line.front() != '[') continue;
        read_line(line, entries, offset);
    }
    if (!entries.empty()) {
        // The last offset tag of the file applies to every entry; positive moves lyrics earlier.
        for (Entry& e : entries) e.time = saturate_i32(static_cast<double>(e.time) - offset);
        emit_cues(st, entries);
    }
    return finish_parse(st, SUB_FORMAT_LRC, !entries.empty(), "no LRC lyrics");
}

} // namespace cuekit
