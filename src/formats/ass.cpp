// ASS/SSA: only the events section is read. The line after "[Events]" names the columns;
// every event line up to the next section gives start, end and text by that layout.
#include "formats/formats.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cuekit {
namespace {

constexpr size_t kNameMax = 63;   // column names and time fields are cut to this length
constexpr size_t kMaxFields = 64; // an event line is split into at most this many fields

// Column positions of the three fields that matter; -1 while not named.
struct AssLayout {
    int64_t start = -1;
    int64_t end = -1;
    int64_t text = -1;
    bool complete() const { return start >= 0 && end >= 0 && text >= 0; }
};

std::string_view skip_spaces(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

AssLayout ass_read_layout(std::string_view names) {
    AssLayout layout;
    int64_t col = 0;
    size_t pos = 0;
    while (pos < names.size()) {
        const size_t comma = names.find(',', pos);
        const size_t stop = comma == std::string_view::npos ? names.size() : comma;
        const std::string_view name = trim(names.substr(pos, stop - pos).substr(0, kNameMax));
        // A name that occurs twice counts at its last position.
        if (ieq(name, "Start")) layout.start = col;
        else if (ieq(name, "End")) layout.end = col;
        else if (ieq(name, "Text")) layout.text = col;
        ++col;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    return layout;
}

struct AssEvent {
    std::string_view start;
    std::string_view end;
    std::string_view text;
};

// The positions of one byte in a short text, in order, found up to 64 bytes a step where the
// machine allows it: the fields before an event's text and the text itself are a few dozen
// bytes, too short for a library search per occurrence to pay off and long enough for a byte
// loop to be slow. Each position is taken off a bit mask, so finding the next one does not
// wait for the last one.
class ByteFinder {
public:
    // `s` is part of a text that may be read up to `limit`.
    ByteFinder(std::string_view s, char c, const char* limit) : s_(s), c_(c), limit_(limit) {}
    // The next occurrence after the one handed out before (the first one at the start), or
    // the text size once there is none.
    size_t next() {
        while (bits_ == 0) {
            if (block_end_ == s_.size()) return s_.size();
            load();
        }
        const size_t at = block_ + static_cast<size_t>(std::countr_zero(bits_));
        bits_ &= bits_ - 1;
        return at;
    }

private:
    void load() {
        block_ = block_end_;
        const size_t n = std::min<size_t>(s_.size() - block_, 64);
        const char* const p = s_.data() + block_;
        size_t k = 0;
#ifdef __SSE2__
        // The last step may read past the text's end (within the readable bytes); what it
        // finds there is dropped.
        for (; k < n && limit_ - (p + k) >= 16; k += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            bits_ |= uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(c_))))} << k;
        }
        if (n < 64) bits_ &= (uint64_t{1} << n) - 1;
#endif
        for (; k < n; ++k)
            if (p[k] == c_) bits_ |= uint64_t{1} << k;
        block_end_ = block_ + n;
    }

    std::string_view s_;
    char c_;
    const char* limit_;
    size_t block_ = 0;     // the bytes whose occurrences not yet handed out `bits_` holds,
    size_t block_end_ = 0; // [block_, block_end_)
    uint64_t bits_ = 0;
};

// Splits an event line (part of a text readable up to `limit`) by the layout; false when the
// line does not reach the Text column with every column before it closed by a comma (within
// the 64-field limit).
bool ass_split_fields(std::string_view line, const AssLayout& layout, AssEvent& ev, const char* limit) {
    ByteFinder commas(line, ',', limit);
    size_t pos = 0;
    for (int64_t k = 0; k < static_cast<int64_t>(kMaxFields); ++k) {
        if (k == layout.text) {
            ev.text = line.substr(pos);
            return true;
        }
        const size_t comma = commas.next();
        if (comma == line.size()) return false;
        const std::string_view field = line.substr(pos, comma - pos);
        if (k == layout.start) ev.start = field;
        if (k == layout.end) ev.end = field;
        pos = comma + 1;
    }
    return false;
}

int32_t ass_time(std::string_view field) { return parse_ssa_time(trim(field.substr(0, kNameMax))); }

// Position of the next hard line break (a backslash followed by N or n) past the last one,
// or npos. A backslash before any other byte, or at the very end, is text.
size_t ass_next_break(ByteFinder& backslashes, std::string_view text) {
    for (size_t at = backslashes.next(); at < text.size(); at = backslashes.next())
        if (at + 1 < text.size() && (text[at + 1] == 'N' || text[at + 1] == 'n')) return at;
    return std::string_view::npos;
}

// Appends the pieces of `text` between hard line breaks to cue `index`; no empty line is
// ever added. Only the breaks are removed, so each line is one span of the text. A line
// that reaches the kTextMax-byte limit with text still to come is the cue's last. The text
// is part of one scanned line, so it holds no line feed or carriage return: each piece is
// stored as it is.
void ass_split_text_lines(Store& st, int index, std::string_view text, const char* limit) {
    ByteFinder backslashes(text, '\\', limit);
    size_t begin = 0;
    while (true) {
        const size_t brk = ass_next_break(backslashes, text);
        const size_t stop = brk == std::string_view::npos ? text.size() : brk;
        if (stop - begin >= kTextMax && begin + kTextMax < text.size()) {
            cue_add_line(st, index, text.substr(begin, kTextMax));
            return;
        }
        if (stop > begin) cue_add_line(st, index, text.substr(begin, stop - begin));
        if (brk == std::string_view::npos) return;
        begin = brk + 2;
    }
}

} // namespace

bool probe_ass(std::string_view t) {
    return icontains(t, "[Script Info]") || icontains(t, "[V4+ Styles]") || icontains(t, "[Events]");
}

int parse_ass(Store& st, std::string_view text) {
    const char* const limit = text.data() + text.size(); // event lines are parts of the text
    LineReader reader(text);
    std::string_view line;
    bool found = false;
    while (!found && reader.next(line)) found = ieq(until_nul(line), "[Events]");
    if (!found) {
        set_error(st, "ASS: no [Events] section");
        return SUB_ERR_PARSE;
    }
    if (!reader.next(line)) {
        set_error(st, "ASS: missing Format line");
        return SUB_ERR_PARSE;
    }
    std::string_view names = until_nul(line);
    if (istarts_with(names, "Format:")) names.remove_prefix(7);
    names = skip_spaces(names);
    const AssLayout layout = names.empty() ? AssLayout{} : ass_read_layout(names);
    if (!layout.complete()) {
        set_error(st, "ASS: Format missing Start/End/Text");
        return SUB_ERR_PARSE;
    }

    while (reader.next(line)) {
        std::string_view ev_line = trim(reader.until_nul(line));
        if (ev_line.empty()) continue;
        if (ev_line.front() == '[') break; // the next section
        // A line without the prefix is read as a dialogue all the same. The prefix as it is
        // usually written settles both questions at once.
        if (ev_line.starts_with("Dialogue:")) {
            ev_line = skip_spaces(ev_line.substr(9));
        } else {
            if (istarts_with(ev_line, "Comment:")) continue;
            if (istarts_with(ev_line, "Dialogue:")) ev_line = skip_spaces(ev_line.substr(9));
        }
        AssEvent ev;
        if (!ass_split_fields(ev_line, layout, ev, limit)) continue;
        const int32_t start = ass_time(ev.start);
        const int32_t end = ass_time(ev.end);
        if (start < 0 || end < 0 || start >= end) continue;
        if (ev.text.empty()) continue;
        ass_split_text_lines(st, cue_add(st, start, end), ev.text, limit);
    }

    return finish_parse(st, SUB_FORMAT_ASS, "no ASS cues");
}

} // namespace cuekit
