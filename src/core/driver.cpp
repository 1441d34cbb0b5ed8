// sub_parse: decode, pick a parser (named, detected, or the fallback order), build the result.
#include "core/core.hpp"

#include <cstdlib>

namespace cuekit {
namespace {

// The parser's result, or SUB_ERR_NOMEM when the cue store refused a cue or a line on the
// way: a parser skips what it cannot store, so its success (or its "nothing found") would
// hide the loss.
int call_parser(Store& st, int format, std::string_view text) {
    const FormatInfo* f = format_info(format);
    if (!f) return SUB_ERR_FORMAT;
    st.lost_data = false;
    const int rc = guard_oom([&] { return f->parse(st, text); });
    return st.lost_data ? SUB_ERR_NOMEM : rc;
}

int run(Store& st, const void* data, size_t len, int format, const char* encoding, bool borrow) {
    // Unless the caller lends the input for the result's lifetime, lines must not point into it.
    auto succeed = [borrow](Store& s) { return borrow || s.own_text() ? SUB_OK : SUB_ERR_NOMEM; };
    if (!data || len == 0) {
        set_error(st, "empty buffer");
        return SUB_ERR_EMPTY;
    }
    if (const int rc = decode_into(st, data, len, encoding); rc != SUB_OK) return rc;
    const std::string_view text = st.text();

    if (format == SUB_FORMAT_AUTO) format = detect_format(data, len, nullptr);
    if (format == SUB_FORMAT_AUTO) {
        for (const sub_format id : fallback_order()) {
            st.clear_cues();
            st.error[0] = '\0';
            const int rc = call_parser(st, id, text);
            if (rc == SUB_ERR_NOMEM) return rc; // another parser's reading would replace the right one
            if (rc == SUB_OK && st.count() > 0) return succeed(st);
        }
        set_error(st, "all parsers failed");
        return SUB_ERR_PARSE;
    }

    const int rc = call_parser(st, format, text);
    if (rc == SUB_OK) return succeed(st);
    // Running out of memory is no reason to try another reading; an unknown format has none.
    const FormatInfo* info = format_info(format);
    const sub_format retry = (rc == SUB_ERR_NOMEM || !info) ? SUB_FORMAT_AUTO : info->retry_as;
    if (retry == SUB_FORMAT_AUTO) return rc;
    st.clear_cues(); // the error text of the first attempt stays
    const int rc2 = call_parser(st, retry, text);
    return rc2 == SUB_OK ? succeed(st) : rc2;
}

} // namespace

int decode_into(Store& st, const void* data, size_t len, const char* encoding) {
    Decoded d = decode_to_utf8(data, len, encoding);
    if (d.result != SUB_OK) {
        if (d.refused) set_error(st, "iconv failed for encoding %s", d.refused);
        return d.result;
    }
    st.set_text(d.view, d.text.release(), d.form);
    if (d.detected[0]) warn(st, "encoding: detected %s", d.detected.data());
    for (size_t i = 0; i < d.warning_count; ++i) warn(st, "%s", d.warnings[i]);
    return SUB_OK;
}

int parse(Store& st, const void* data, size_t len, int format, const char* encoding, bool borrow) {
    st.reset();
    const int rc = guard_oom([&] { return run(st, data, len, format, encoding, borrow); });
    if (rc != SUB_OK) st.clear_cues();
    return rc;
}

} // namespace cuekit
