// The core: the parse state with its cue store, the format table's shape, detection, the
// driver and the result document. Everything works on a state passed explicitly, so the core
// stays reentrant; g_sub is only the instance behind the C interface.
#pragma once

#include "text/text.hpp"

#include <cstdarg>
#include <span>

#if defined(__GNUC__) || defined(__clang__)
#define CUEKIT_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define CUEKIT_PRINTF(fmt_index, first_arg)
#endif

#include "core/store.hpp"

namespace cuekit {

// ---------------------------------------------------------------------------------------
// The C interface's records (core/state.cpp): what sub_parse leaves in g_sub, and what the
// C building blocks work on.

// Index of the new cue, or -1 (error text "oom") when the store cannot grow.
int cue_add(sub_state& st, int32_t start_ms, int32_t end_ms);
// Appends a private copy of `s` (which must hold no NUL) to cue `index`. 0, or -1 for an
// index out of range or a failed allocation.
int cue_add_line(sub_state& st, int index, std::string_view s);
// Removes the last cue with its lines (parsers that find the cue they just added empty).
void drop_last_cue(sub_state& st);
// Frees every cue with its lines and the cue array: what the driver does between attempts.
void clear_cues(sub_state& st);
void vset_error(sub_state& st, const char* fmt, va_list ap) CUEKIT_PRINTF(2, 0);
void vwarn(sub_state& st, const char* fmt, va_list ap) CUEKIT_PRINTF(2, 0);
void vset_error(Store& st, const char* fmt, va_list ap) CUEKIT_PRINTF(2, 0);
void vwarn(Store& st, const char* fmt, va_list ap) CUEKIT_PRINTF(2, 0);
// The error text (cut to 511 bytes) and a warning (cut to 255 bytes, at most 64 kept) of the
// C records or of a store.
template <typename State>
void set_error(State& st, const char* fmt, ...) CUEKIT_PRINTF(2, 3);
template <typename State>
void warn(State& st, const char* fmt, ...) CUEKIT_PRINTF(2, 3);
template <typename State>
void set_error(State& st, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vset_error(st, fmt, ap);
    va_end(ap);
}
template <typename State>
void warn(State& st, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vwarn(st, fmt, ap);
    va_end(ap);
}
void state_reset(sub_state& st);
int strlist_push(sub_strlist& list, std::string_view s);
void strlist_free(sub_strlist& list);
// A state as after a reset (format SUB_FORMAT_AUTO).
sub_state make_empty_state();

// The common end of a parser: success as `id` when `found`, otherwise the error text
// `no_cues_error` and SUB_ERR_PARSE. Without `found`, a cue in the store (or in the records
// a C building block parses onto) is the test.
int finish_parse(Store& st, sub_format id, bool found, const char* no_cues_error);
inline int finish_parse(Store& st, sub_format id, const char* no_cues_error) {
    return finish_parse(st, id, st.count() + st.prior_cues > 0, no_cues_error);
}

// Runs `body` and turns an allocation failure (std::bad_alloc) into SUB_ERR_NOMEM, so that
// no exception crosses the C boundary.
template <typename F>
int guard_oom(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return SUB_ERR_NOMEM;
    }
}

// ---------------------------------------------------------------------------------------
// The format table (its rows live in formats/table.cpp)

// A parser gets the decoded text, which may be the caller's input itself: nothing may be read
// at or after its end (no NUL follows it). The markup parsers that read "only the text"
// stop at the first NUL themselves (until_nul).
using ParserFn = int (*)(Store& st, std::string_view text);
// Whether a sample of the raw input (left-trimmed, cut at its first NUL) looks like the format.
using ProbeFn = bool (*)(std::string_view sample);

// How the text of a line carries its styling, as a source and as a writer's target.
enum class Markup {
    Plain, // text only, no escapes (LRC, txt; and every source whose text is decoded already)
    Html,  // SubRip tags, no character references
    Vtt,   // the same tags, with character references
    Ass,   // override blocks, \N \h and \{ \} escapes
    Xml,   // text only, with character references (TTML)
};

struct FormatInfo {
    sub_format id;
    const char* name;                            // as sub_format_name() gives it
    std::array<std::string_view, 1> aliases;     // further names sub_format_from_name() knows; "" unused
    std::array<std::string_view, 2> extensions;  // lower case, dot included; "" unused
    ParserFn parse;
    ProbeFn probe;
    int detect_rank;   // 1 is probed first; the first probe that says yes names the format
    int fallback_rank; // 1 is tried first on text that detection cannot name
    sub_format retry_as; // the second chance when this parser fails, or SUB_FORMAT_AUTO
    Markup markup = Markup::Plain; // how the text of its lines carries styling
    bool danmaku = false;          // comments a danmaku player lays out over the picture
    // The tag names its lines' markup has, space separated (HTML-like markup only); text in
    // angle brackets that names none of them is text. Empty: any tag-like text is a tag.
    std::string_view tags = {};
    // Whether the file begins with the format's own structure (a SubRip block, a tt root):
    // such a file is the format whatever its text holds further on. Null: no such check.
    ProbeFn lead = nullptr;
};

// The one table of formats, indexed by identifier 0 to SUB_FORMAT_COUNT - 1.
std::span<const FormatInfo> formats();
// The table row of `id`, or nullptr outside the table.
const FormatInfo* format_info(int id);
// Identifiers in the order their probes run, and in the order their parsers are tried.
std::span<const sub_format> detection_order();
std::span<const sub_format> fallback_order();
// "auto" for SUB_FORMAT_AUTO, the table's name inside the table, "unknown" for anything else.
const char* format_name(int id);
// The identifier of a name or alias (exact, lower case), SUB_FORMAT_AUTO for "auto",
// SUB_FORMAT_UNKNOWN for anything else, null included.
int format_from_name(const char* name);

// ---------------------------------------------------------------------------------------
// Driver, detection, JSON result (core/)

// Parses into `st` (reset first). With `borrow`, lines may stay views into `data`.
int parse(Store& st, const void* data, size_t len, int format, const char* encoding, bool borrow);
// Decodes into the store's text, adding the decoder's warnings and error text to it. On
// failure the store's text stays as it was.
int decode_into(Store& st, const void* data, size_t len, const char* encoding);
int detect_format(const void* data, size_t len, const char* filename);
int ext_hint(const char* filename);
int build_json(sub_state& st);
// The result document: write_json and stream_json (core/cues.hpp).
// Appends the store's result to the C records of `out` (cues, warnings, text, format, error
// text, and the JSON document when `with_json`). SUB_OK, or SUB_ERR_NOMEM when memory ran
// out; the cues of `out` are then as before.
int export_records(Store& st, sub_state& out, bool with_json);

} // namespace cuekit
