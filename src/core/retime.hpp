// Time operations on a parse state.
#pragma once

#include "core/core.hpp"

namespace cuekit {

// Scale by fps_from/fps_to (when either is given), then shift. With a shift, times below 0
// become 0 and a cue that ends at or before 0 is removed. Warnings give the counts. 0, or 1
// for a ratio that is not two positive finite numbers.
struct Retime {
    int32_t shift_ms = 0;
    double fps_from = 0;
    double fps_to = 0;
};
int retime(sub_state& st, const Retime& r);
int retime(Store& st, const Retime& r);

} // namespace cuekit
