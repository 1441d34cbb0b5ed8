// MicroDVD: one cue a line, {start frame}{end frame}text, frames turned into milliseconds
// through a rate that only the first cue line may announce.
#include "formats/formats.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace cuekit {
namespace {

constexpr float kDefaultRate = 25.0f;
constexpr size_t kCodeReach = 31; // a brace code closes at most this many bytes after its "{"

struct MdvdCue {
    int32_t start;
    int32_t end;
    std::string_view text;
};

class MdvdCursor {
public:
    explicit MdvdCursor(std::string_view s) : s_(s) {}

    // One bracketed frame number: "{" or "[", an optional minus sign, digits, and the
    // closing bracket that matches the opening one. Values beyond int32 saturate.
    bool frame(int32_t& out) {
        char close = 0;
        if (at('{')) close = '}';
        else if (at('[')) close = ']';
        else return false;
        ++pos_;
        const bool neg = at('-');
        if (neg) ++pos_;
        if (pos_ >= s_.size() || !is_digit(static_cast<unsigned char>(s_[pos_]))) return false;
        constexpr int64_t kCap = static_cast<int64_t>(INT32_MAX) + 1;
        int64_t v = 0;
        for (; pos_ < s_.size() && is_digit(static_cast<unsigned char>(s_[pos_])); ++pos_)
            v = std::min(v * 10 + (s_[pos_] - '0'), kCap);
        if (!at(close)) return false;
        ++pos_;
        out = static_cast<int32_t>(neg ? -v : std::min<int64_t>(v, INT32_MAX));
        return true;
    }
    std::string_view rest() const { return s_.substr(pos_); }

private:
    bool at(char c) const { return pos_ < s_.size() && s_[pos_] == c; }
    std::string_view s_;
    size_t pos_ = 0;
};

bool mdvd_cue_line(std::string_view line, MdvdCue& cue) {
    MdvdCursor c(line);
    if (!c.frame(cue.start) || !c.frame(cue.end)) return false;
    cue.text = c.rest();
    return true;
}

// A rate announced by the text of the first cue line: a number as strtof reads it (leading
// white space skipped), within (1, 120), followed by the end, a space or "{".
bool mdvd_rate(std::string_view text, float& rate) {
    const std::string copy(text); // strtof needs the line's end as a NUL
    char* after = nullptr;
    const float v = std::strtof(copy.c_str(), &after);
    if (after == copy.c_str()) return false;
    if (!(v > 1.0f && v < 120.0f)) return false;
    if (*after != '\0' && *after != ' ' && *after != '{') return false;
    rate = v;
    return true;
}

// Frame to milliseconds in single precision, truncated; saturates instead of overflowing.
int32_t mdvd_ms(int32_t frame, float rate) {
    const float ms = static_cast<float>(frame) * 1000.0f / rate;
    return saturate_i32(static_cast<double>(ms));
}

// Splits the cue text at "|" into lines and removes brace codes of up to 32 bytes. A line
// that reaches the length limit is cut there and is the cue's last. A line stays a view into
// the text unless a code had to be cut out of its middle. No line holds a line break.
void mdvd_text_lines(Store& st, int index, std::string_view t, std::string& buf) {
    if (t.find('{') == std::string_view::npos) {
        // No brace codes: every line is a slice of the text as it is.
        for (size_t from = 0;;) {
            const size_t bar = t.find('|', from);
            const std::string_view piece = t.substr(from, bar == std::string_view::npos ? t.size() - from : bar - from);
            if (piece.size() >= kTextMax) {
                cue_add_line(st, index, piece.substr(0, kTextMax));
                return;
            }
            if (!piece.empty()) cue_add_line(st, index, piece);
            if (bar == std::string_view::npos) return;
            from = bar + 1;
        }
    }
    buf.clear();
    size_t slice_at = 0; // where the line's first kept byte is in `t`
    bool slice = true;   // every kept byte follows the one before it in `t`
    auto keep = [&](size_t at, size_t len) {
        if (buf.empty()) {
            slice_at = at;
            slice = true;
        } else if (slice_at + buf.size() != at) {
            slice = false;
        }
        buf.append(t.substr(at, len));
    };
    auto flush = [&] {
        if (!buf.empty()) cue_add_line(st, index, slice ? t.substr(slice_at, buf.size()) : std::string_view(buf));
        buf.clear();
    };
    size_t i = 0;
    while (i < t.size()) {
        if (buf.size() == kTextMax) break; // the rest of the text is dropped
        const char c = t[i];
        if (c == '{') {
            const size_t close = t.substr(i + 1, kCodeReach).find('}');
            if (close != std::string_view::npos) {
                i += close + 2;
                continue;
            }
            keep(i, 1);
            ++i;
        } else if (c == '|') {
            flush();
            ++i;
        } else {
            size_t stop = i + 1;
            while (stop < t.size() && t[stop] != '{' && t[stop] != '|') ++stop;
            const size_t take = std::min(stop - i, kTextMax - buf.size());
            keep(i, take);
            i += take;
        }
    }
    flush();
}

} // namespace

bool probe_microdvd(std::string_view t) {
    if (!t.starts_with('[') && !t.starts_with('{')) return false;
    return contains(t, "}") && t.find('{', 1) != std::string_view::npos && t.size() > 1 &&
           (is_digit(static_cast<unsigned char>(t[1])) || t[1] == '-');
}

int parse_microdvd(Store& st, std::string_view text) {
    float rate = kDefaultRate;
    bool rate_open = true;
    std::string buf;
    LineReader reader(text);
    std::string_view line;
    while (reader.next(line)) {
        MdvdCue cue{};
        if (!mdvd_cue_line(trim(reader.until_nul(line)), cue)) continue;
        if (rate_open) {
            rate_open = false;
            if (mdvd_rate(cue.text, rate)) continue; // the rate line gives no cue
        }
        const int index = cue_add(st, mdvd_ms(cue.start, rate), mdvd_ms(cue.end, rate));
        if (index >= 0) mdvd_text_lines(st, index, cue.text, buf);
    }
    return finish_parse(st, SUB_FORMAT_MICRODVD, "no MicroDVD cues");
}

} // namespace cuekit
