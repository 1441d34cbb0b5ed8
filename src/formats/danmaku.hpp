// What the two danmaku formats share: the comma-separated number list that carries a
// comment's time and style, and the cue every comment becomes.
#pragma once

#include "formats/formats.hpp"

namespace cuekit {

// The non-empty comma-separated tokens of the first 511 bytes of a list (up to its first NUL),
// as strtok_r with "," finds them: runs of commas are one separator, so an empty field
// shifts the later fields forward. Only the first four tokens are kept, each NUL-terminated
// for the C number readers.
class DanmakuTokens {
public:
    static constexpr size_t kMaxBytes = 511;
    static constexpr size_t kKept = 4;

    explicit DanmakuTokens(std::string_view list);
    size_t count() const { return count_; }
    // Token i (0-based), or nullptr when the list has fewer tokens.
    const char* operator[](size_t i) const { return i < count_ ? tokens_[i] : nullptr; }

private:
    std::array<char, kMaxBytes + 1> buf_{};
    std::array<const char*, kKept> tokens_{};
    size_t count_ = 0;
};

// Seconds (atof) to whole milliseconds, truncated toward zero; NaN reads as 0 and values
// beyond the 32-bit range saturate.
int32_t danmaku_time_ms(const char* token);
// atoi, saturating.
int32_t danmaku_mode(const char* token);
// atof as a 32-bit float; a value that is NaN or infinite as a float keeps `fallback`.
float danmaku_fontsize(const char* token, float fallback);
// 0xRRGGBB written in decimal: strtoul saturated to 32 bits, low 24 bits kept.
uint32_t danmaku_color(const char* token);

struct DanmakuStyle {
    int32_t mode = 1;
    uint32_t color = 0xFFFFFF;
    float fontsize = 25.0f;
};

// Every comment is shown for this long.
constexpr int32_t kDanmakuDurationMs = 3000;

// Adds the cue of one comment (start to start + 3000 ms, saturating) with `text` as its
// lines (cue_add_text); a comment without any text keeps one empty line. False when the cue
// store cannot grow.
bool add_danmaku(Store& st, int32_t start_ms, const DanmakuStyle& style, std::string_view text);

} // namespace cuekit
