// LRC lyrics: lines that begin with bracketed time tags, each tag a moment at which the rest
// of the line is sung, plus metadata tags of which only "offset" matters. Entries are ordered
// by time and each lasts until the next later entry starts.
#include "formats/formats.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace cuekit {
namespace {

constexpr size_t kTagMax = 127;
constexpr size_t kKeyMax = 31;
constexpr size_t kTimesPerLine = 16;
constexpr int32_t kLastDuration = 3000;

// An entry is its time and where its lyric starts in the text: nothing else is kept, since
// the lyric runs from there to the end of its line and can be found again when the cue is
// written. Sorting (time, position) is stable by construction, and equal keys are entries of
// one line, which share their lyric. Up to 4 GiB of text both fit one 64-bit word.
struct NarrowKey {
    uint64_t bits;
    static NarrowKey make(int32_t time, size_t at) {
        return {(static_cast<uint64_t>(static_cast<uint32_t>(time) ^ 0x80000000u) << 32) | at};
    }
    int32_t time() const { return static_cast<int32_t>(static_cast<uint32_t>(bits >> 32) ^ 0x80000000u); }
    size_t at() const { return static_cast<size_t>(bits & 0xFFFFFFFFu); }
    bool operator<(const NarrowKey& o) const { return bits < o.bits; }
};
struct WideKey {
    int32_t t;
    size_t pos;
    static WideKey make(int32_t time, size_t at) { return {time, at}; }
    int32_t time() const { return t; }
    size_t at() const { return pos; }
    bool operator<(const WideKey& o) const { return t != o.t ? t < o.t : pos < o.pos; }
};

struct LineTimes {
    std::array<int32_t, kTimesPerLine> times{};
    size_t count = 0;
};

// Seconds written as decimal digits ("02.01", "5", ".5") in milliseconds, from the digits
// themselves: a binary fraction would make 2.01 s a hair less than 2010 ms. One fraction digit
// is tenths, two hundredths, three milliseconds; later digits are cut. `used` is how many
// bytes were read (0 when there is no digit). Saturates far beyond any cue time.
int64_t seconds_ms(std::string_view s, size_t& used) {
    constexpr int64_t kCap = int64_t{1} << 50;
    int64_t whole = 0;
    int64_t frac = 0;
    size_t frac_digits = 0;
    size_t digits = 0;
    size_t i = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        const auto d = static_cast<unsigned char>(s[i] - '0');
        if (d <= 9) {
            ++digits;
            if (!point) {
                whole = std::min(whole * 10 + d, kCap);
            } else if (frac_digits < 3) {
                frac = frac * 10 + d;
                ++frac_digits;
            }
        } else if (s[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    used = digits == 0 ? 0 : i;
    for (; frac_digits < 3; ++frac_digits) frac *= 10;
    return whole * 1000 + frac;
}

// The usual time tag, "m:ss.xx" with at most 9 digits of minutes, read in one step. False
// for any other form.
bool plain_time(std::string_view content, size_t colon, int64_t& minutes, int64_t& ms) {
    if (colon == 0 || colon > 9) return false;
    int64_t m = 0;
    for (size_t i = 0; i < colon; ++i) {
        const auto d = static_cast<unsigned char>(content[i] - '0');
        if (d > 9) return false;
        m = m * 10 + d;
    }
    const std::string_view value = content.substr(colon + 1);
    size_t used = 0;
    const int64_t v = seconds_ms(value, used);
    if (used == 0 || used != value.size()) return false;
    minutes = m;
    ms = v;
    return true;
}

// Whether the seconds of another form of time tag are plain digits as above: the number
// reader would read no more than they are (no exponent or hexadecimal form follows).
bool digits_seconds(std::string_view s, int64_t& ms) {
    size_t used = 0;
    ms = seconds_ms(s, used);
    if (used == 0) return false;
    const auto at = [&](size_t i) { return i < s.size() ? fold(static_cast<unsigned char>(s[i])) : '\0'; };
    if (used == 1 && s[0] == '0' && at(1) == 'x') return false;
    const size_t exp_digit = at(used + 1) == '+' || at(used + 1) == '-' ? used + 2 : used + 1;
    return at(used) != 'e' || !is_digit(at(exp_digit));
}

// One tag's content (between the brackets): a time tag "mm:ss.xx" or a metadata tag "key:value".
// The content is followed by its ']', which ends a number just as a NUL does, so the number
// readers run on the text itself unless the content must be cut or its value is empty.
void read_tag(std::string_view content, LineTimes& line, double& offset) {
    const size_t colon = content.substr(0, kTagMax).find(':');
    if (colon == std::string_view::npos) return;
    const bool time = is_digit(static_cast<unsigned char>(content[0]));
    if (!time && !ieq(content.substr(0, std::min(colon, kKeyMax)), "offset")) return;
    // An empty value is copied too: the number reader looks one byte past a first non-NUL.
    const bool fits = content.size() <= kTagMax && colon + 1 < content.size();
    const CStringCopy<kTagMax> copy(fits ? std::string_view() : content);
    const char* begin = fits ? content.data() : copy.c_str();
    const char* value = begin + colon + 1;
    if (!time) {
        offset = strtod_fast(value, nullptr);
        return;
    }
    // Minutes are widened before scaling so that no count of them can overflow.
    int64_t minutes = 0;
    int64_t ms = 0;
    if (!plain_time(content, colon, minutes, ms)) {
        minutes = atoi_sat(begin);
        if (!digits_seconds(fits ? content.substr(colon + 1) : std::string_view(value), ms)) {
            // Anything else is read as a number and truncated, NaN as 0.
            const double seconds = strtod_fast(value, nullptr);
            if (line.count < kTimesPerLine)
                line.times[line.count++] = saturate_i32((seconds + static_cast<double>(minutes * 60)) * 1000.0);
            return;
        }
    }
    const auto t = static_cast<int32_t>(std::clamp<int64_t>(minutes * 60000 + ms, INT32_MIN, INT32_MAX));
    if (line.count < kTimesPerLine) line.times[line.count++] = t;
}

// A line's chain of tags; the lyric text is whatever follows the last tag of the chain.
template <typename Key>
bool read_line(std::string_view text, std::string_view line, PodArray<Key>& keys, double& offset) {
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
    if (times.count == 0) return true;
    const size_t at = static_cast<size_t>(trim_left(lyric).data() - text.data());
    Key* out = keys.extend(times.count);
    if (!out) return false;
    for (size_t i = 0; i < times.count; ++i) out[i] = Key::make(times.times[i], at);
    keys.added(times.count);
    return true;
}

// The lyric that starts at `at`: up to the end of its line (a line terminator or a NUL, as
// the line was read), trailing blanks removed.
std::string_view lyric_at(std::string_view text, size_t at) {
    LineReader reader(text.substr(at));
    std::string_view line;
    reader.next(line);
    return trim(until_nul(line));
}

// One cue per distinct time, holding the lyrics of every entry at that time in file order
// (a translated file gives the original and its translation); an empty lyric counts only
// when all at that time are empty. A cue lasts until the next later time.
template <typename Key>
void emit_cues(Store& st, std::string_view text, const PodArray<Key>& keys) {
    const size_t n = keys.size();
    for (size_t g = 0; g < n;) {
        const int32_t time = keys[g].time();
        size_t h = g + 1;
        while (h < n && keys[h].time() == time) ++h;
        const int32_t end = h < n ? keys[h].time() : add_sat(time, kLastDuration);
        const int cue = cue_add(st, time, end);
        bool any = false;
        for (size_t i = g; i < h; ++i) {
            const std::string_view lyric = lyric_at(text, keys[i].at());
            if (lyric.empty()) continue;
            cue_add_line(st, cue, lyric); // a lyric holds no line break
            any = true;
        }
        if (!any) cue_add_line(st, cue, "");
        g = h;
    }
}

template <typename Key>
int parse_lrc_keys(Store& st, std::string_view text) {
    PodArray<Key> keys;
    double offset = 0;
    LineReader reader(text);
    std::string_view raw;
    while (reader.next(raw)) {
        const std::string_view line = trim(reader.until_nul(raw));
        if (line.empty() || line.front() != '[') continue;
        if (!read_line(text, line, keys, offset)) return SUB_ERR_NOMEM;
    }
    if (keys.size()) {
        // The last offset tag of the file applies to every entry; positive moves lyrics earlier.
        // The shift keeps the order, and lyrics keep their file order among equal times.
        if (offset != 0.0)
            for (size_t i = 0; i < keys.size(); ++i)
                keys[i] = Key::make(saturate_i32(static_cast<double>(keys[i].time()) - offset), keys[i].at());
        Key* const first = keys.data();
        Key* const last = first + keys.size();
        if (!std::is_sorted(first, last)) std::sort(first, last);
        emit_cues(st, text, keys);
    }
    return finish_parse(st, SUB_FORMAT_LRC, keys.size() > 0, "no LRC lyrics");
}

} // namespace

bool probe_lrc(std::string_view t) {
    if (!t.starts_with('[')) return false;
    const bool tagged = contains(t, "[ti:") || contains(t, "[ar:") ||
                        (t.size() > 1 && is_digit(static_cast<unsigned char>(t[1])) && contains(t, ":"));
    return tagged && contains(t, "]") && (contains(t, "[0") || contains(t, "[1") || contains(t, "[ti"));
}

int parse_lrc(Store& st, std::string_view text) {
    return text.size() <= UINT32_MAX ? parse_lrc_keys<NarrowKey>(st, text) : parse_lrc_keys<WideKey>(st, text);
}

} // namespace cuekit
