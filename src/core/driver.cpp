// sub_parse: decode, pick a parser (named, detected, or the fallback order), build the result.
#include "core/core.hpp"

#include <cstdlib>

namespace cuekit {
namespace {

// The parser's result, or SUB_ERR_NOMEM when the cue store refused a cue or a line on the
// way: a parser skips what it cannot store, so its success (or its "nothing found") would
// hide the loss.
int call_parser(sub_state& st, int format, std::string_view text) {
    const FormatInfo* f = format_info(format);
    if (!f) return SUB_ERR_FORMAT;
    const uint64_t refusals = store_failures();
    const int rc = guard_oom([&] { return f->parse(st, text); });
    return store_failures() != refusals ? SUB_ERR_NOMEM : rc;
}

int run(sub_state& st, const void* data, size_t len, int format, const char* encoding, bool with_json) {
    auto succeed = [with_json](sub_state& s) {
        if (with_json) build_json(s); // a document that cannot be built reads as "{}"; still a success
        return SUB_OK;
    };
    if (!data || len == 0) {
        set_error(st, "empty buffer");
        return SUB_ERR_EMPTY;
    }
    if (const int rc = decode_into(st, data, len, encoding); rc != SUB_OK) return rc;
    const std::string_view text(st.text, static_cast<size_t>(st.text_len));

    if (format == SUB_FORMAT_AUTO) format = detect_format(data, len, nullptr);
    if (format == SUB_FORMAT_AUTO) {
        for (const sub_format id : fallback_order()) {
            clear_cues(st);
            st.error[0] = '\0';
            const int rc = call_parser(st, id, text);
            if (rc == SUB_ERR_NOMEM) return rc; // another parser's reading would replace the right one
            if (rc == SUB_OK && st.count > 0) return succeed(st);
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
    clear_cues(st); // the error text of the first attempt stays
    const int rc2 = call_parser(st, retry, text);
    return rc2 == SUB_OK ? succeed(st) : rc2;
}

} // namespace

int decode_into(sub_state& st, const void* data, size_t len, const char* encoding) {
    Decoded d = decode_to_utf8(data, len, encoding);
    if (d.result != SUB_OK) {
        if (d.refused) set_error(st, "iconv failed for encoding %s", d.refused);
        return d.result;
    }
    std::free(st.text);
    st.text = d.text.release();
    st.text_len = d.len;
    if (d.detected[0]) warn(st, "encoding: detected %s", d.detected.data());
    for (size_t i = 0; i < d.warning_count; ++i) warn(st, "%s", d.warnings[i]);
    return SUB_OK;
}

int parse(sub_state& st, const void* data, size_t len, int format, const char* encoding, bool with_json) {
    state_reset(st);
    return guard_oom([&] { return run(st, data, len, format, encoding, with_json); });
}

} // namespace cuekit
