// Clock-style timestamps. Arithmetic is done in 64 bits and any field or result that does
// not fit a signed 32-bit millisecond count makes the timestamp invalid (-1).
#include "text/text.hpp"

#include <climits>

namespace cuekit {
namespace {

class Cursor {
public:
    explicit Cursor(std::string_view s) : p_(s.data()), end_(s.data() + s.size()) {}
    // The byte `ahead` positions on, or 0 past the end (a NUL ends the text all the same).
    unsigned char peek(size_t ahead = 0) const {
        return static_cast<size_t>(end_ - p_) > ahead ? static_cast<unsigned char>(p_[ahead]) : 0;
    }
    bool at_digit(size_t ahead = 0) const { return is_digit(peek(ahead)); }
    void skip(size_t n = 1) { p_ += n; }
    // One run of digits; the value saturates just above INT32_MAX so overflow stays visible.
    int64_t digits() {
        int64_t v = 0;
        for (; p_ < end_ && is_digit(static_cast<unsigned char>(*p_)); ++p_) {
            v = v * 10 + (*p_ - '0');
            if (v > INT32_MAX) v = static_cast<int64_t>(INT32_MAX) + 1;
        }
        return v;
    }
    // Digits after a fraction separator (already skipped), scaled to milliseconds: one digit
    // is tenths, two hundredths, three or more milliseconds (further digits dropped).
    int64_t fraction() {
        int64_t v = 0;
        int n = 0;
        for (; p_ < end_ && is_digit(static_cast<unsigned char>(*p_)); ++p_, ++n)
            if (n < 3) v = v * 10 + (*p_ - '0');
        if (n == 1) return v * 100;
        if (n == 2) return v * 10;
        return v;
    }

private:
    const char* p_;
    const char* end_;
};

bool is_frac_sep(unsigned char c) { return c == ',' || c == '.'; }

int32_t checked(int64_t h, int64_t m, int64_t s, int64_t f) {
    if (h > INT32_MAX || m > INT32_MAX || s > INT32_MAX) return -1;
    const int64_t total = h * 3600000 + m * 60000 + s * 1000 + f;
    return total > INT32_MAX ? -1 : static_cast<int32_t>(total);
}

} // namespace

int32_t parse_hms_ms(std::string_view s, bool strict) {
    // The stamp nearly every file writes, "HH:MM:SS" and a fraction, read by position: what
    // the general reading below gives for it.
    static constexpr Shape kClock("DD:DD:DDFD");
    if (kClock.starts(s)) return clock_ms_at(s, 2);
    Cursor c(s);
    while (c.peek() && !c.at_digit()) c.skip();
    if (!c.at_digit()) return -1; // a NUL ends the text, as it would for a C string reader
    const int64_t x = c.digits();
    if (c.peek() != ':' || !c.at_digit(1)) return -1;
    c.skip();
    const int64_t y = c.digits();
    if (c.peek() == ':') {
        if (!c.at_digit(1)) return -1;
        c.skip();
        const int64_t z = c.digits();
        int64_t f = 0;
        if (is_frac_sep(c.peek())) {
            c.skip();
            f = c.fraction();
        } else if (strict) {
            return -1;
        }
        return checked(x, y, z, f);
    }
    if (is_frac_sep(c.peek())) {
        c.skip();
        const int64_t f = c.fraction();
        return checked(0, x, y, f);
    }
    if (strict) return -1;
    return checked(0, x, y, 0);
}

bool parse_hms_frames(std::string_view s, int32_t& clock_ms, int64_t& frames) {
    Cursor c(s);
    while (c.peek() && !c.at_digit()) c.skip();
    if (!c.at_digit()) return false;
    std::array<int64_t, 4> field{};
    field[0] = c.digits();
    for (size_t i = 1; i < field.size(); ++i) {
        if (c.peek() != ':' || !c.at_digit(1)) return false;
        c.skip();
        field[i] = c.digits();
    }
    const int32_t ms = checked(field[0], field[1], field[2], 0);
    if (ms < 0) return false;
    clock_ms = ms;
    frames = field[3];
    return true;
}

size_t full_stamp_length(std::string_view s) {
    // Hours of any width, then fixed widths: minutes, seconds and a three-digit fraction.
    static constexpr Shape kRest(":DD:DDFDDD");
    size_t i = 0;
    while (i < s.size() && is_digit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == 0 || !kRest.starts(s.substr(i))) return 0;
    i += kRest.size();
    return i < s.size() && is_digit(static_cast<unsigned char>(s[i])) ? 0 : i;
}

int32_t parse_ssa_time(std::string_view s) {
    // Nearly every stamp has the fixed shape "H:MM:SS.cc", read by position; a first byte that
    // is no digit, or a wider field, goes the long way.
    static constexpr Shape kStamp("D:DD:DDFDD");
    if (kStamp.starts(s)) return clock_ms_at(s, 1);
    Cursor c(s);
    while (c.peek() == ' ' || c.peek() == '\t') c.skip();
    if (!c.at_digit()) return -1;
    const int64_t h = c.digits();
    if (c.peek() != ':' || !c.at_digit(1)) return -1;
    c.skip();
    const int64_t m = c.digits();
    if (c.peek() != ':' || !c.at_digit(1)) return -1;
    c.skip();
    const int64_t sec = c.digits();
    int64_t f = 0;
    if (is_frac_sep(c.peek())) {
        c.skip();
        f = c.fraction();
    }
    return checked(h, m, sec, f);
}

} // namespace cuekit
