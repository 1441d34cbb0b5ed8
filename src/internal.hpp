// What the library shares inside. Everything here works on a parse state passed explicitly,
// so the core stays reentrant; g_sub is only the instance behind the C interface.
#pragma once

#include "cuekit.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GNUC__) || defined(__clang__)
#define CUEKIT_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define CUEKIT_PRINTF(fmt_index, first_arg)
#endif

namespace cuekit {

// Counts one refusal of the cue store (see store_failures).
void count_store_refusal();
// A malloc'd, NUL-terminated copy of `s`, or nullptr.
char* copy_cstring(std::string_view s);

} // namespace cuekit

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
// A state as after a reset (format -1).
sub_state make_empty_state();
// How often the cue store refused a cue or a line on this thread so far. Parsers go on past
// such a refusal, so the driver compares this before and after a parser to tell a complete
// result from one that silently lost data.
uint64_t store_failures();

// ---------------------------------------------------------------------------------------
// Driver, detection, JSON result (core/)

// `with_json` false skips the result document (callers that never read it).
// Parses into `st` (reset first). With `borrow`, lines may stay views into `data`.
int parse(Store& st, const void* data, size_t len, int format, const char* encoding, bool borrow);
int detect_format(const void* data, size_t len, const char* filename);
int ext_hint(const char* filename);
int build_json(sub_state& st);
// The result document of a state as a malloc'd text, or nullptr when it cannot be written.
char* write_json(const sub_state& st);
char* write_json(const Store& st);
// The document of a store handed to `sink` piece by piece; false when the sink refused a
// piece or memory ran out.
using JsonSinkFn = bool (*)(void* context, const char* data, size_t size);
bool stream_json(const Store& st, JsonSinkFn sink, void* context);
// Appends the store's result to the C records of `out` (cues, warnings, text, format, error
// text, and the JSON document when `with_json`). 0, or 4 when memory ran out; `out` is then
// left as the failed parse leaves it.
int export_records(Store& st, sub_state& out, bool with_json);

// A parser gets the decoded text, which may be the caller's input itself: nothing may be read
// at or after its end (no NUL follows it). The markup parsers that read "only the text"
// stop at the first NUL themselves (until_nul).
using ParserFn = int (*)(Store& st, std::string_view text);

struct FormatInfo {
    sub_format id;
    const char* name;
    ParserFn parse;
    std::array<std::string_view, 2> extensions; // lower case, dot included; "" unused
    sub_format retry_as;                         // the second chance when this parser fails, or -1
};

// The one table of formats, indexed by identifier 0 to 10.
std::span<const FormatInfo> formats();
// The table row of `id`, or nullptr outside 0 to 10.
const FormatInfo* format_info(int id);
// "auto" for -1, the table's name for 0 to 10, "unknown" for anything else.
const char* format_name(int id);

int parse_srt(Store& st, std::string_view text);
int parse_vtt(Store& st, std::string_view text);
int parse_ass(Store& st, std::string_view text);
int parse_microdvd(Store& st, std::string_view text);
int parse_subviewer(Store& st, std::string_view text);
int parse_ttml(Store& st, std::string_view text);
int parse_ytxml(Store& st, std::string_view text);
int parse_lrc(Store& st, std::string_view text);
int parse_sami(Store& st, std::string_view text);
int parse_bilibili(Store& st, std::string_view text);
int parse_acfun(Store& st, std::string_view text);

// Runs `body` and turns an allocation failure (std::bad_alloc) into result 4, so that no
// exception crosses the C boundary.
template <typename F>
int guard_oom(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return 4;
    }
}

// ---------------------------------------------------------------------------------------
// Decoding (text/decode.cpp)

int decode_to_utf8(Store& st, const void* data, size_t len, const char* encoding);

// ---------------------------------------------------------------------------------------
// Strings and lines (text/strings.cpp)

// The whitespace that trimming removes: TAB, LF, CR and SPACE, nothing else.
constexpr bool is_space(unsigned char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
// Folds ASCII letters only; bytes at or above 0x80 stay as they are.
constexpr unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

std::string_view trim(std::string_view s);
std::string_view trim_left(std::string_view s);
// The part before the first NUL: what a C string reader would see.
std::string_view until_nul(std::string_view s);
bool ieq(std::string_view a, std::string_view b);
bool istarts_with(std::string_view s, std::string_view prefix);
// First case-insensitive occurrence of `needle` at or after `from`, or npos. An empty needle
// matches at `from` (when from <= hay.size()).
size_t ifind(std::string_view hay, std::string_view needle, size_t from = 0);

// The first occurrence of a needle (ASCII case ignored unless `exact`) at or after a position
// that only moves forward. An occurrence is kept until the position passes it and an absent
// needle is never searched for again, so a whole forward scan reads the text once per needle.
class ForwardFinder {
public:
    ForwardFinder(std::string_view hay, std::string_view needle, bool exact = false)
        : hay_(hay), needle_(needle), exact_(exact) {}
    // `from` must not be smaller than in the previous call.
    size_t next(size_t from) {
        if (!searched_ || (at_ != std::string_view::npos && at_ < from)) {
            at_ = exact_ ? hay_.find(needle_, from) : ifind(hay_, needle_, from);
            searched_ = true;
        }
        return at_;
    }

private:
    std::string_view hay_;
    std::string_view needle_;
    bool exact_;
    size_t at_ = std::string_view::npos;
    bool searched_ = false;
};

// Walks the elements of one name through a markup text, front to back: each start tag (from
// its '<' through its first '>'), and on request the text up to the element's closing tag.
class ElementScanner {
public:
    // `open` is how a start tag begins ("<d ", "<text"); with `name_ends`, the byte after it
    // must be a space or '>' (anything else is a longer name, another element).
    ElementScanner(std::string_view text, std::string_view open, std::string_view close, bool exact, bool name_ends)
        : text_(text), open_(open), close_(text, close, exact), close_len_(close.size()), exact_(exact),
          name_ends_(name_ends) {}
    // The next start tag, cut to `max_tag` bytes; false when none with a '>' is left.
    bool next_tag(std::string_view& tag, size_t max_tag);
    // Whether the start tag just read ends in "/>".
    bool self_closing() const { return gt_ > 0 && text_[gt_ - 1] == '/'; }
    // The text between the start tag just read and the next closing tag, both then consumed;
    // false when no closing tag follows.
    bool body(std::string_view& inner);

private:
    std::string_view text_;
    std::string_view open_;
    ForwardFinder close_;
    size_t close_len_;
    bool exact_;
    bool name_ends_;
    size_t pos_ = 0;
    size_t gt_ = 0;
};

// Walks a text line by line with the terminators LF, CR, CR LF, CR CR LF and U+2028 (E2 80 A8),
// exactly as sub_split_lines cuts it, handing out views instead of copies. There is always a
// last line after the last terminator (empty when the text ends with one), so a text with k
// terminators yields k + 1 lines; an empty text yields one empty line.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    // Sets `line` to the next line (terminator excluded); false once every line was given.
    bool next(std::string_view& line);
    // Offset of the first byte not yet handed out (text size once exhausted).
    size_t offset() const { return pos_; }

private:
    // Next position of each byte that can start a terminator (text size when there is none
    // left): each is searched again only once the scan has passed it.
    struct NextByte {
        char byte;
        size_t at = 0;
        bool searched = false;
    };
    size_t next_of(NextByte& b, size_t from) const;

    std::string_view text_;
    size_t pos_ = 0;
    bool done_ = false;
    NextByte lf_{'\n'}, cr_{'\r'}, ls_{'\xE2'};
};


// ---------------------------------------------------------------------------------------
// Numbers (text/numbers.cpp): conversions that are defined for every input.

// A view as a NUL-terminated string for the C number readers, cut to N bytes the way a
// fixed buffer of N + 1 bytes cuts it.
template <size_t N>
class CStringCopy {
public:
    explicit CStringCopy(std::string_view s) : n_(std::min(s.size(), N)) {
        if (n_) std::memcpy(buf_.data(), s.data(), n_);
        buf_[n_] = '\0';
    }
    const char* c_str() const { return buf_.data(); }

private:
    std::array<char, N + 1> buf_;
    size_t n_;
};
// A double as a float; values beyond the float range become an infinity of their sign (a
// plain conversion is not defined for them), NaN stays NaN.
float narrow_to_float(double v);
// strtod, with the same result and end position; plain decimals (up to 15 significant digits
// and 22 after the point, no exponent) are converted directly, everything else by strtod.
double strtod_fast(const char* s, char** end);
// Truncates toward zero into int32; NaN reads as 0, out-of-range values saturate.
int32_t saturate_i32(double v);
// Saturating int32 addition.
int32_t add_sat(int32_t a, int32_t b);
// atoi: leading whitespace, optional sign, digits; saturates instead of overflowing.
int32_t atoi_sat(const char* s);
// atol into int32 range, saturating.
int32_t atol_sat(const char* s);
// strtoul(s, nullptr, 10) saturated to the unsigned 32-bit range.
uint32_t strtou32_sat(const char* s);

// ---------------------------------------------------------------------------------------
// Timestamps (text/timestamp.cpp). The end of the view acts as the string's end.

int32_t parse_hms_ms(std::string_view s, bool strict);
int32_t parse_ssa_time(std::string_view s);

// ---------------------------------------------------------------------------------------
// Entities (text/entities.cpp) and markup helpers (formats/markup.cpp)

// Decodes character references of s[0..n) in place; returns the new length (never more
// than n). Stops early at a NUL, as a C string reader would.
size_t html_decode(char* s, size_t n);

// Value of attribute `name` (double quotes first, then single quotes) inside one start tag,
// cut to `max_len` bytes; found == false when absent.
struct AttrValue {
    bool found = false;
    std::string_view value;
};
AttrValue xml_get_attr(std::string_view tag, std::string_view name, size_t max_len);

// The character data of range: tags removed, at most 65535 bytes kept, entities decoded,
// trimmed. The result points into `buf`, which is reused from call to call.
constexpr size_t kTextMax = 65535;
std::string_view xml_text_decode(std::string_view range, std::string& buf);

// ---------------------------------------------------------------------------------------
// Shared block scanner of the SubRip and WebVTT parsers (formats/srt.cpp)

// Reads a timing line; true with both outs written when `line` is one.
bool srt_try_tc(std::string_view line, int32_t& start, int32_t& end);
// Blank-line separated blocks, first timing line opens a cue, the block's later lines are its
// text. `never_timing` exempts lines (WebVTT keywords) from the timing-line test.
int parse_timed_blocks(Store& st, std::string_view text, bool (*never_timing)(std::string_view trimmed));

} // namespace cuekit
