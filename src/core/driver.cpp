// sub_parse: decode, pick a parser (named, detected, or the fallback order), build the result.
#include "internal.hpp"

namespace cuekit {
namespace {

// Tried first to last when neither the caller nor detection names a format. SubRip accepts
// almost anything with an arrow, so it comes last.
constexpr std::array<sub_format, 11> kFallbackOrder{1, 2, 8, 4, 9, 5, 6, 7, 3, 10, 0};

// The parser's result, or 4 when the cue store refused a cue or a line on the way: a
// parser skips what it cannot store, so its success (or its "nothing found") would hide the
// loss.
int call_parser(Store& st, int format, std::string_view text) {
    const FormatInfo* f = format_info(format);
    if (!f) return 1;
    const uint64_t refusals = store_failures();
    const int rc = guard_oom([&] { return f->parse(st, text); });
    return store_failures() != refusals ? 4 : rc;
}

int run(Store& st, const void* data, size_t len, int format, const char* encoding, bool borrow) {
    // Unless the caller lends the input for the result's lifetime, lines must not point into it.
    auto succeed = [borrow](Store& s) { return borrow || s.own_text() ? 0 : 4; };
    if (!data || len == 0) {
        set_error(st, "empty buffer");
        return 3;
    }
    if (const int rc = decode_to_utf8(st, data, len, encoding); rc != 0) return rc;
    const std::string_view text = st.text();

    if (format == -1) format = detect_format(data, len, nullptr);
    if (format == -1) {
        for (const sub_format id : kFallbackOrder) {
            st.clear_cues();
            st.error[0] = '\0';
            const int rc = call_parser(st, id, text);
            if (rc == 4) return 4; // another parser's reading would replace the right one
            if (rc == 0 && st.count() > 0) return succeed(st);
        }
        set_error(st, "all parsers failed");
        return 5;
    }

    const int rc = call_parser(st, format, text);
    if (rc == 0) return succeed(st);
    // Running out of memory is no reason to try another reading; an unknown format has none.
    const FormatInfo* info = format_info(format);
    const sub_format retry = (rc == 4 || !info) ? -1 : info->retry_as;
    if (retry < 0) return rc;
    st.clear_cues(); // the error text of the first attempt stays
    const int rc2 = call_parser(st, retry, text);
    return rc2 == 0 ? succeed(st) : rc2;
}

} // namespace

int parse(Store& st, const void* data, size_t len, int format, const char* encoding, bool borrow) {
    st.reset();
    const int rc = guard_oom([&] { return run(st, data, len, format, encoding, borrow); });
    if (rc != 0) st.clear_cues();
    return rc;
}

} // namespace cuekit
