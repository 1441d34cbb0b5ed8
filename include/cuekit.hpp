// cuekit for C++ (C++17 or later): a reentrant interface over the same core as the C one.
//
// - Each parse returns an owning Result and touches no global state (not g_sub either), so
//   any number of threads may parse at once; one Result may be read by several threads at
//   once, as long as none of them moves from or assigns to it.
// - Views (CueRef, iterators, the string_views of lines and warnings) point into the Result
//   they came from and are valid while it lives and is not assigned to; moving a Result hands
//   them on to the Result moved to. After parse_borrowed() they may point into its input.
// - Nothing here throws except std::bad_alloc from building a std::vector or std::string on
//   request (lines(), warnings(), json()); parse() itself reports running out of memory as
//   code SUB_ERR_NOMEM.
#pragma once

#include "cuekit.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace cuekit {

// Format identifiers, with the values of the C interface's SUB_FORMAT_* constants.
enum class Format : int {
    Auto = SUB_FORMAT_AUTO,
    Srt = SUB_FORMAT_SRT,
    Vtt = SUB_FORMAT_VTT,
    Ass = SUB_FORMAT_ASS,
    MicroDvd = SUB_FORMAT_MICRODVD,
    SubViewer = SUB_FORMAT_SUBVIEWER,
    Ttml = SUB_FORMAT_TTML,
    YouTubeXml = SUB_FORMAT_YTXML,
    Lrc = SUB_FORMAT_LRC,
    Sami = SUB_FORMAT_SAMI,
    Bilibili = SUB_FORMAT_BILIBILI,
    AcFun = SUB_FORMAT_ACFUN,
};

// How Result::write writes; the defaults are the tool's. The canvas, font and scale apply to
// every ASS script, the rest to danmaku laid out as ASS.
struct WriteOptions {
    bool strip = false; // text without markup
    int canvas_width = 1920;
    int canvas_height = 1080;
    std::string font{}; // empty: the default
    double font_scale = 1.0;
    double opacity = 1.0;     // 0 transparent to 1 opaque
    double scroll_time = 8.0; // seconds
    double fixed_time = 4.0;  // seconds
    double lanes = 0.8;       // share of the height scrolling comments may use
    bool danmaku_overlap = false;
};

// A write option that takes a real number, with its closed range.
struct NumberOption {
    const char* name; // as WriteOptions spells it: "font_scale", "opacity", ...
    double WriteOptions::*field;
    double min;
    double max;
};
struct NumberOptions {
    const NumberOption* first;
    const NumberOption* last;
    const NumberOption* begin() const { return first; }
    const NumberOption* end() const { return last; }
};
// The options that take a real number, in the order of WriteOptions.
NumberOptions number_options();

// What is wrong with a set of write options: the first one out of its range, or nothing.
struct OptionProblem {
    std::string_view option;   // "canvas" (either side), "font", "font_scale", ...; empty: none
    std::string_view expected; // what it takes, e.g. "expected a number from 0 to 1"
    double min = 0;            // the range of the number, or of each side of the canvas
    double max = 0;
    explicit operator bool() const { return !option.empty(); }
};
// The one check of write options; write_to() refuses what it refuses. Never throws.
OptionProblem check_options(const WriteOptions& options);

// Write targets, numbered as the C interface numbers them (sub_target_count() of them). The
// name or alias ("SRT", "ssa") of a target, ASCII case ignored, or SUB_TARGET_UNKNOWN.
int target_from_name(std::string_view name);
// The target a file name's last extension names ("x.webvtt", "a.SSA"), or SUB_TARGET_UNKNOWN.
int target_from_path(std::string_view path);
// The name of target `target` ("srt"), empty outside the range.
std::string_view target_name(int target);

// `text` as a JSON string, quotes included, escaped as the result document escapes its lines
// (ill-formed UTF-8 becomes U+FFFD): for documents of one's own that quote paths or warnings.
std::string json_quoted(std::string_view text);

// Takes written text piece by piece; false when it cannot (the write then fails with
// SUB_WRITE_SINK).
using Sink = std::function<bool(std::string_view)>;

namespace detail {
// The records a Result keeps; read them through CueRef.
struct CueRecord {
    int32_t start_ms;
    int32_t end_ms;
    uint32_t first_line; // index of the cue's first line in the line array
    uint32_t line_count;
};
// A line: `len & kLenMask` bytes at `off` in the decoded text, or in the result's own arena
// when `len & kInArena`. Eight bytes, as the line array is most of what a parse touches.
struct LineRef {
    static constexpr uint32_t kInArena = 0x80000000u;
    static constexpr uint32_t kLenMask = 0x7FFFFFFFu;
    uint32_t off;
    uint32_t len;
};
// The same for a result whose text or arena outgrew 32-bit offsets (inputs over 4 GiB).
struct WideLineRef {
    uint64_t off;
    uint32_t len;
    uint32_t in_arena;
};
struct DanmakuRecord {
    int32_t mode;
    uint32_t color;
    float fontsize;
    uint32_t is_danmu;
};
// Where a Result's records are; fixed once the parse is done.
struct Records {
    const CueRecord* cues = nullptr;
    std::size_t count = 0;
    const LineRef* lines = nullptr;
    const WideLineRef* wide_lines = nullptr; // instead of `lines` when not null
    const DanmakuRecord* danmaku = nullptr; // null when no cue is a danmaku comment
    const char* text = nullptr;
    const char* arena = nullptr;
};
// Line k of a line array (the wide one when not null), in the text or in the arena.
inline std::string_view line_view(const LineRef* lines, const WideLineRef* wide, const char* text, const char* arena,
                                  std::size_t k) {
    if (wide) return {(wide[k].in_arena ? arena : text) + wide[k].off, wide[k].len};
    const LineRef& l = lines[k];
    return {((l.len & LineRef::kInArena) ? arena : text) + l.off, l.len & LineRef::kLenMask};
}
} // namespace detail

// A read-only view of one cue of a Result; valid as long as the Result lives (and, after
// parse_borrowed(), the input).
class CueRef {
public:
    CueRef(const detail::Records& r, std::size_t i) : r_(&r), i_(i) {}
    int32_t start_ms() const { return c().start_ms; }
    int32_t end_ms() const { return c().end_ms; }
    std::size_t line_count() const { return c().line_count; }
    // Line j, for j < line_count() (not checked).
    std::string_view line(std::size_t j) const {
        return detail::line_view(r_->lines, r_->wide_lines, r_->text, r_->arena, c().first_line + j);
    }
    std::vector<std::string_view> lines() const {
        std::vector<std::string_view> out;
        out.reserve(line_count());
        for (std::size_t j = 0; j < line_count(); ++j) out.push_back(line(j));
        return out;
    }
    // The danmaku fields mean something only when is_danmu() (otherwise mode 0, colour 0,
    // size 25, as in the C records).
    bool is_danmu() const { return r_->danmaku && r_->danmaku[i_].is_danmu != 0; }
    int32_t mode() const { return r_->danmaku ? r_->danmaku[i_].mode : 0; }
    uint32_t color() const { return r_->danmaku ? r_->danmaku[i_].color : 0; } // 0xRRGGBB
    float fontsize() const { return r_->danmaku ? r_->danmaku[i_].fontsize : 25.0f; }

private:
    const detail::CueRecord& c() const { return r_->cues[i_]; }
    const detail::Records* r_;
    std::size_t i_;
};

class Store;

// What one parse produced. Movable, not copyable; frees everything when destroyed. A
// default-constructed or moved-from Result is empty: code SUB_OK, no cues, format Auto.
class Result {
public:
    Result() noexcept = default;
    ~Result();
    Result(Result&& other) noexcept;
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    // SUB_OK on success; otherwise SUB_ERR_FORMAT, SUB_ERR_ENCODING, SUB_ERR_EMPTY,
    // SUB_ERR_NOMEM or SUB_ERR_PARSE, as sub_parse() returns them.
    int code() const { return code_; }
    bool ok() const { return code_ == SUB_OK; }
    explicit operator bool() const { return ok(); }
    // Why the parse failed (also a first parser's message after a successful second chance);
    // empty when there is nothing to say.
    std::string_view error() const;

    // The format that was read (Format::Auto after a failure) and its name ("srt", "auto").
    Format format() const;
    std::string_view format_name() const;

    std::size_t size() const { return rec_->count; }
    bool empty() const { return rec_->count == 0; }
    // Cue i, for i < size() (not checked).
    CueRef operator[](std::size_t i) const { return CueRef(*rec_, i); }

    // A random-access iterator over the cues; it yields CueRef by value.
    class iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = CueRef;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = CueRef;

        iterator() = default;
        iterator(const detail::Records* r, difference_type i) : r_(r), i_(i) {}

        CueRef operator*() const { return CueRef(*r_, static_cast<std::size_t>(i_)); }
        CueRef operator[](difference_type n) const { return CueRef(*r_, static_cast<std::size_t>(i_ + n)); }

        iterator& operator++() { ++i_; return *this; }
        iterator operator++(int) { iterator t = *this; ++i_; return t; }
        iterator& operator--() { --i_; return *this; }
        iterator operator--(int) { iterator t = *this; --i_; return t; }
        iterator& operator+=(difference_type n) { i_ += n; return *this; }
        iterator& operator-=(difference_type n) { i_ -= n; return *this; }

        friend iterator operator+(iterator it, difference_type n) { return it += n; }
        friend iterator operator+(difference_type n, iterator it) { return it += n; }
        friend iterator operator-(iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(iterator a, iterator b) { return a.i_ - b.i_; }

        friend bool operator==(iterator a, iterator b) { return a.i_ == b.i_; }
        friend bool operator!=(iterator a, iterator b) { return a.i_ != b.i_; }
        friend bool operator<(iterator a, iterator b) { return a.i_ < b.i_; }
        friend bool operator>(iterator a, iterator b) { return a.i_ > b.i_; }
        friend bool operator<=(iterator a, iterator b) { return a.i_ <= b.i_; }
        friend bool operator>=(iterator a, iterator b) { return a.i_ >= b.i_; }

    private:
        const detail::Records* r_ = nullptr;
        difference_type i_ = 0;
    };
    using const_iterator = iterator;
    iterator begin() const { return iterator(rec_, 0); }
    iterator end() const { return iterator(rec_, static_cast<std::ptrdiff_t>(rec_->count)); }

    // The warnings of the parse, in order (a text that could not be stored reads as empty).
    std::vector<std::string_view> warnings() const;
    // The JSON result document, written on request ("{}" after a failure). Throws
    // std::bad_alloc when memory runs out while writing it.
    std::string json() const;
    // The same document written to `out` as it is made, never held whole ("{}" after a
    // failure); the stream is flushed at the end. False when a write failed or memory ran
    // out: what reached `out` is then incomplete.
    bool write_json(std::FILE* out) const;
    // The same document handed to `sink` piece by piece, in order. A sink returning false
    // stops the writing, and so does running out of memory; both return false.
    bool write_json(bool (*sink)(void* context, const char* data, std::size_t size), void* context) const;

    // Writes the cues as `target` (a name target_from_name() knows: "srt", "vtt", "ass",
    // "ttml", "lrc", "txt", "json", ...; or the Format of one of the first five) to `sink`.
    // SUB_WRITE_OK; SUB_WRITE_BAD_ARGUMENT for an unknown target or an option out of range
    // (check_options() says which); SUB_WRITE_NOMEM; SUB_WRITE_NO_RESULT after a failed parse;
    // SUB_WRITE_SINK when the sink refused. What the writer leaves out (danmaku it cannot lay
    // out) is described in `notes` when given.
    int write_to(std::string_view target, const Sink& sink, const WriteOptions& options = {},
                 std::vector<std::string>* notes = nullptr) const;
    int write_to(Format target, const Sink& sink, const WriteOptions& options = {},
                 std::vector<std::string>* notes = nullptr) const;
    // The same into a string; std::invalid_argument for SUB_WRITE_BAD_ARGUMENT (saying which
    // option, when one is out of range) and SUB_WRITE_NO_RESULT, std::bad_alloc for
    // SUB_WRITE_NOMEM.
    std::string write(std::string_view target, const WriteOptions& options = {}) const;
    std::string write(Format target, const WriteOptions& options = {}) const;

    // Scales every time by fps_from / fps_to (both 0: no scaling), then shifts by shift_ms;
    // with a shift, times below 0 become 0 and cues ending at or before 0 are removed (a
    // warning gives the count). 0, or 1 for a ratio that is not two positive finite numbers.
    int retime(int32_t shift_ms, double fps_from = 0, double fps_to = 0);

private:
    friend Result parse(const void*, std::size_t, Format, const char*);
    friend Result parse_borrowed(std::string_view, Format, const char*);
    static Result run(const void* data, std::size_t len, Format format, const char* encoding, bool borrow);
    static const detail::Records kNone;
    Store* store_ = nullptr;
    const detail::Records* rec_ = &kNone;
    int code_ = 0;
};

// Parses one whole file of `len` bytes at `data` (only read during the call: the Result
// keeps its own copy of what it needs), as sub_parse() does: `format` Auto detects it;
// `encoding` null or empty takes UTF-8 (else CP1252), "detect" runs the charset detector
// for files of unknown origin. Never throws.
Result parse(const void* data, std::size_t len, Format format = Format::Auto, const char* encoding = nullptr);

inline Result parse(std::string_view bytes, Format format = Format::Auto, const char* encoding = nullptr) {
    return parse(bytes.data(), bytes.size(), format, encoding);
}

// As parse(), but without the copy: lines that are unchanged slices of the input stay views
// into `bytes` (a mapped file, a buffer the caller keeps anyway). `bytes` must stay alive
// and unchanged for as long as the Result, or any CueRef or line taken from it, is used.
Result parse_borrowed(std::string_view bytes, Format format = Format::Auto, const char* encoding = nullptr);

// Guesses the format from content and, as a last resort, the extension of `filename` (may be
// null); Format::Auto when neither tells. As sub_detect_format(); touches no state.
inline Format detect_format(std::string_view bytes, const char* filename = nullptr) {
    return static_cast<Format>(sub_detect_format(bytes.data(), bytes.size(), filename));
}

} // namespace cuekit
