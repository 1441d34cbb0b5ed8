// Danmaku cues read back with their style fields.
#pragma once

#include "test_util.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace cuekit_test {

struct Danmu {
    int start;
    int end;
    int mode;
    unsigned color;
    float size;
    std::vector<std::string> lines;
    bool operator==(const Danmu&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Danmu& d) {
    os << "{" << d.start << ", " << d.end << ", mode " << d.mode << ", color " << d.color << ", size " << d.size
       << ", [";
    for (size_t i = 0; i < d.lines.size(); ++i) os << (i ? ", " : "") << '"' << d.lines[i] << '"';
    return os << "]}";
}

// Every cue of the last parse; a cue not marked as danmaku fails the comparison through mode -1.
inline std::vector<Danmu> danmus() {
    std::vector<Danmu> out;
    for (const Cue& c : cues()) out.push_back({c.start, c.end, -1, 0, 0.0f, c.lines});
    for (int i = 0; i < sub_cue_count(); ++i) {
        if (!sub_cue_is_danmu(i)) continue;
        out[static_cast<size_t>(i)].mode = sub_cue_danmu_mode(i);
        out[static_cast<size_t>(i)].color = sub_cue_danmu_color(i);
        out[static_cast<size_t>(i)].size = sub_cue_danmu_fontsize(i);
    }
    return out;
}

} // namespace cuekit_test
