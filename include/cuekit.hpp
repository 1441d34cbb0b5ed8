// cuekit for C++ (C++17 or later): a reentrant interface over the same core as the C one.
//
// - Each parse returns an owning Result and touches no global state (not g_sub either), so
//   any number of threads may parse at once; one Result may be read by several threads at
//   once, as long as none of them moves from or assigns to it.
// - Views (CueRef, iterators, the string_views of lines and warnings) point into the Result
//   they came from and are valid while it lives and is not assigned to; moving a Result hands
//   them on to the Result moved to. error() is the exception: it views the Result object
//   itself, so a move does not carry it.
// - Nothing here throws except std::bad_alloc from building a std::vector or std::string on
//   request (lines(), warnings(), json()); parse() itself reports running out of memory as
//   code SUB_ERR_NOMEM.
#pragma once

#include "cuekit.h"

#include <cstddef>
#include <cstdint>
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

// Takes written text piece by piece; false when it cannot (the write then fails with 6).
using Sink = std::function<bool(std::string_view)>;

// A read-only view of one cue of a Result; valid as long as the Result lives.
class CueRef {
public:
    explicit CueRef(const sub_cue& c) : c_(&c) {}
    int32_t start_ms() const { return c_->start_ms; }
    int32_t end_ms() const { return c_->end_ms; }
    std::size_t line_count() const { return static_cast<std::size_t>(c_->lines.count); }
    // Line j, for j < line_count() (not checked).
    std::string_view line(std::size_t j) const { return c_->lines.items[j]; }
    std::vector<std::string_view> lines() const { return {c_->lines.items, c_->lines.items + c_->lines.count}; }
    // The danmaku fields mean something only when is_danmu().
    bool is_danmu() const { return c_->is_danmu != 0; }
    int32_t mode() const { return c_->mode; }
    uint32_t color() const { return c_->color; } // 0xRRGGBB
    float fontsize() const { return c_->fontsize; }

private:
    const sub_cue* c_;
};

// What one parse produced. Movable, not copyable; frees everything when destroyed. A
// default-constructed or moved-from Result is empty: code SUB_OK, no cues, format Auto.
class Result {
public:
    Result() noexcept;
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
    std::string_view error() const { return st_.error; }

    // The format that was read (Format::Auto after a failure) and its name ("srt", "auto").
    Format format() const { return static_cast<Format>(st_.format); }
    std::string_view format_name() const;

    std::size_t size() const { return static_cast<std::size_t>(st_.count); }
    bool empty() const { return st_.count == 0; }
    // Cue i, for i < size() (not checked).
    CueRef operator[](std::size_t i) const { return CueRef(st_.cues[i]); }

    // A random-access iterator over the cues; it yields CueRef by value.
    class iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = CueRef;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = CueRef;

        iterator() = default;
        explicit iterator(const sub_cue* p) : p_(p) {}

        CueRef operator*() const { return CueRef(*p_); }
        CueRef operator[](difference_type n) const { return CueRef(p_[n]); }

        iterator& operator++() { ++p_; return *this; }
        iterator operator++(int) { iterator t = *this; ++p_; return t; }
        iterator& operator--() { --p_; return *this; }
        iterator operator--(int) { iterator t = *this; --p_; return t; }
        iterator& operator+=(difference_type n) { p_ += n; return *this; }
        iterator& operator-=(difference_type n) { p_ -= n; return *this; }

        friend iterator operator+(iterator it, difference_type n) { return it += n; }
        friend iterator operator+(difference_type n, iterator it) { return it += n; }
        friend iterator operator-(iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(iterator a, iterator b) { return a.p_ - b.p_; }

        friend bool operator==(iterator a, iterator b) { return a.p_ == b.p_; }
        friend bool operator!=(iterator a, iterator b) { return a.p_ != b.p_; }
        friend bool operator<(iterator a, iterator b) { return a.p_ < b.p_; }
        friend bool operator>(iterator a, iterator b) { return a.p_ > b.p_; }
        friend bool operator<=(iterator a, iterator b) { return a.p_ <= b.p_; }
        friend bool operator>=(iterator a, iterator b) { return a.p_ >= b.p_; }

    private:
        const sub_cue* p_ = nullptr;
    };
    using const_iterator = iterator;
    iterator begin() const { return iterator(st_.cues); }
    iterator end() const { return iterator(st_.cues + st_.count); }

    // The warnings of the parse, in order (a text that could not be stored reads as empty).
    std::vector<std::string_view> warnings() const;
    // The JSON result document, written on request ("{}" after a failure, or when memory
    // runs out while writing it).
    std::string json() const;

    // Writes the cues as `target` ("srt", "vtt", "ass", "ttml", "lrc", "txt", "json"; or
    // the Format of one of the first five) to `sink`. 0; 1 unknown target or an option out of
    // range; 4 out of memory; 5 a failed parse; 6 the sink refused. What the writer leaves out
    // (danmaku it cannot lay out) is described in `notes` when given.
    int write_to(std::string_view target, const Sink& sink, const WriteOptions& options = {},
                 std::vector<std::string>* notes = nullptr) const;
    int write_to(Format target, const Sink& sink, const WriteOptions& options = {},
                 std::vector<std::string>* notes = nullptr) const;
    // The same into a string; std::invalid_argument for results 1 and 5, std::bad_alloc for 4.
    std::string write(std::string_view target, const WriteOptions& options = {}) const;
    std::string write(Format target, const WriteOptions& options = {}) const;

    // Scales every time by fps_from / fps_to (both 0: no scaling), then shifts by shift_ms;
    // with a shift, times below 0 become 0 and cues ending at or before 0 are removed (a
    // warning gives the count). 0, or 1 for a ratio that is not two positive finite numbers.
    int retime(int32_t shift_ms, double fps_from = 0, double fps_to = 0);

private:
    friend Result parse(const void*, std::size_t, Format, const char*);
    sub_state st_;
    int code_ = 0;
};

// Parses one whole file of `len` bytes at `data` (only read during the call), as sub_parse()
// does: `format` Auto detects it; `encoding` null or empty takes UTF-8 (else CP1252),
// "detect" runs the charset detector for files of unknown origin. Never throws.
Result parse(const void* data, std::size_t len, Format format = Format::Auto, const char* encoding = nullptr);

inline Result parse(std::string_view bytes, Format format = Format::Auto, const char* encoding = nullptr) {
    return parse(bytes.data(), bytes.size(), format, encoding);
}

// Guesses the format from content and, as a last resort, the extension of `filename` (may be
// null); Format::Auto when neither tells. As sub_detect_format(); touches no state.
inline Format detect_format(std::string_view bytes, const char* filename = nullptr) {
    return static_cast<Format>(sub_detect_format(bytes.data(), bytes.size(), filename));
}

} // namespace cuekit
