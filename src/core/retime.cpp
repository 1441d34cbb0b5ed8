// Time operations on a result: rescaling by a frame-rate ratio, then a shift. This is the one
// place that changes times or removes cues after a parse.
#include "core/retime.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace cuekit {

namespace {

// The new times of one cue: scaled, shifted, clamped to the int32 range; with a shift, cut
// at 0, and a cue that then ends at or before 0 goes. Counts what it clamps and drops.
class TimeMap {
public:
    explicit TimeMap(const Retime& r) : r_(r), scale_(r.fps_from != 0 || r.fps_to != 0) {}
    bool valid() const {
        return !scale_ || (std::isfinite(r_.fps_from) && std::isfinite(r_.fps_to) && r_.fps_from > 0 && r_.fps_to > 0);
    }
    bool identity() const { return !scale_ && r_.shift_ms == 0; }
    // False when the cue is to be dropped.
    bool apply(int32_t& start, int32_t& end) {
        start = adjust(start);
        end = adjust(end);
        if (r_.shift_ms != 0) {
            // A shift moves cues off the start of the timeline: what ends there is gone.
            if (end <= 0) {
                ++dropped_;
                return false;
            }
            start = std::max(start, int32_t{0});
        }
        return true;
    }
    template <typename State>
    void report(State& st) const {
        if (dropped_)
            warn(st, "shift: %zu cue%s ended at or before 0 and %s dropped", dropped_, dropped_ == 1 ? "" : "s",
                 dropped_ == 1 ? "was" : "were");
        if (clamped_) warn(st, "retime: %zu time%s beyond the time range clamped", clamped_, clamped_ == 1 ? "" : "s");
        if (zeroed_) warn(st, "retime: %zu time%s scaled down to 0", zeroed_, zeroed_ == 1 ? "" : "s");
    }

private:
    int32_t adjust(int32_t t) {
        const double scaled = scale_ ? std::round(t * (r_.fps_from / r_.fps_to)) : t;
        if (scaled == 0 && t != 0) ++zeroed_; // a ratio too small keeps no time apart
        const double moved = scaled + r_.shift_ms;
        if (moved > INT32_MAX || moved < INT32_MIN) {
            ++clamped_;
            return moved > 0 ? INT32_MAX : INT32_MIN;
        }
        return static_cast<int32_t>(moved);
    }
    Retime r_;
    bool scale_;
    size_t clamped_ = 0, dropped_ = 0, zeroed_ = 0;
};

} // namespace

int retime(sub_state& st, const Retime& r) {
    TimeMap map(r);
    if (!map.valid()) return 1;
    if (map.identity()) return 0;
    int32_t kept = 0;
    for (int32_t i = 0; i < st.count; ++i) {
        sub_cue c = st.cues[i];
        if (!map.apply(c.start_ms, c.end_ms)) {
            strlist_free(c.lines);
            continue;
        }
        st.cues[kept++] = c;
    }
    st.count = kept;
    map.report(st);
    if (st.json) build_json(st); // the document follows the cues it describes
    return 0;
}

int retime(Store& st, const Retime& r) {
    TimeMap map(r);
    if (!map.valid()) return 1;
    if (map.identity()) return 0;
    st.keep_cues([&](CueRecord& c) { return map.apply(c.start_ms, c.end_ms); });
    map.report(st);
    return 0;
}

} // namespace cuekit
