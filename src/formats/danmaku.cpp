// The comma-separated number list of a danmaku comment and the cue it becomes.
#include "formats/danmaku.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace cuekit {

DanmakuTokens::DanmakuTokens(std::string_view list) {
    list = until_nul(list.substr(0, kMaxBytes));
    if (!list.empty()) std::memcpy(buf_.data(), list.data(), list.size());
    buf_[list.size()] = '\0';
    size_t i = 0;
    while (count_ < kKept) {
        while (i < list.size() && buf_[i] == ',') ++i;
        if (i >= list.size()) break;
        tokens_[count_++] = buf_.data() + i;
        const void* comma = std::memchr(buf_.data() + i, ',', list.size() - i);
        if (!comma) break;
        i = static_cast<size_t>(static_cast<const char*>(comma) - buf_.data());
        buf_[i++] = '\0';
    }
}

int32_t danmaku_time_ms(const char* token) { return saturate_i32(strtod_fast(token, nullptr) * 1000.0); }

int32_t danmaku_mode(const char* token) { return atoi_sat(token); }

float danmaku_fontsize(const char* token, float fallback) {
    // NaN, and anything that is infinite as a float, keeps the default.
    const float v = narrow_to_float(strtod_fast(token, nullptr));
    return std::isfinite(v) ? v : fallback;
}

uint32_t danmaku_color(const char* token) {
    // Up to nine digits cannot overflow, so the usual colour is read directly; anything else
    // (blanks, a sign, ten digits or more) as strtoul reads it.
    uint32_t v = 0;
    size_t n = 0;
    for (; n < 10 && is_digit(static_cast<unsigned char>(token[n])); ++n) v = v * 10 + static_cast<uint32_t>(token[n] - '0');
    if (n == 0 || n == 10) v = strtou32_sat(token);
    return v & 0xFFFFFFu;
}

bool add_danmaku(Store& st, int32_t start_ms, const DanmakuStyle& style, std::string_view text) {
    const int idx = cue_add(st, start_ms, add_sat(start_ms, kDanmakuDurationMs));
    if (idx < 0) return false;
    // The colour is already the low 24 bits (danmaku_color).
    if (!st.set_danmaku(idx, {style.mode, style.color, style.fontsize, 1})) {
        st.lost_data = true;
        return false;
    }
    // A comment of nothing but line breaks is stored as an empty comment is.
    if (cue_add_text(st, idx, until_nul(text)) == 0) cue_add_line(st, idx, "");
    return true;
}

} // namespace cuekit
