// Time operations on a result: rescaling by a frame-rate ratio, then a shift. This is the one
// place that changes times or removes cues after a parse.
#include "core/retime.hpp"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace cuekit {

int retime(sub_state& st, const Retime& r) {
    const bool scale = r.fps_from != 0 || r.fps_to != 0;
    if (scale && !(std::isfinite(r.fps_from) && std::isfinite(r.fps_to) && r.fps_from > 0 && r.fps_to > 0)) return 1;
    if (!scale && r.shift_ms == 0) return 0;
    const double factor = scale ? r.fps_from / r.fps_to : 1.0;
    size_t clamped = 0, dropped = 0;
    auto adjust = [&](int32_t t) {
        const double scaled = scale ? std::round(t * factor) : t;
        const double moved = scaled + r.shift_ms;
        if (moved > INT32_MAX || moved < INT32_MIN) {
            ++clamped;
            return moved > 0 ? INT32_MAX : INT32_MIN;
        }
        return static_cast<int32_t>(moved);
    };
    int32_t kept = 0;
    for (int32_t i = 0; i < st.count; ++i) {
        sub_cue c = st.cues[i];
        c.start_ms = adjust(c.start_ms);
        c.end_ms = adjust(c.end_ms);
        if (r.shift_ms != 0) {
            // A shift moves cues off the start of the timeline: what ends there is gone.
            if (c.end_ms <= 0) {
                strlist_free(c.lines);
                ++dropped;
                continue;
            }
            c.start_ms = std::max(c.start_ms, int32_t{0});
        }
        st.cues[kept++] = c;
    }
    st.count = kept;
    if (dropped) warn(st, "shift: %zu cue%s ended at or before 0 and %s dropped", dropped, dropped == 1 ? "" : "s", dropped == 1 ? "was" : "were");
    if (clamped) warn(st, "retime: %zu time%s beyond the time range clamped", clamped, clamped == 1 ? "" : "s");
    if (st.json) build_json(st); // the document follows the cues it describes
    return 0;
}

} // namespace cuekit
