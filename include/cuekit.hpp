// cuekit for C++: a reentrant interface over the same core as the C one. Each parse returns
// an owning result and touches no global state, so any number of threads may parse at once.
#pragma once

#include "cuekit.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace cuekit {

// Format identifiers, as the C interface numbers them.
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

// A read-only view of one cue of a Result; valid as long as the Result lives.
class CueRef {
public:
    explicit CueRef(const sub_cue& c) : c_(&c) {}
    int32_t start_ms() const { return c_->start_ms; }
    int32_t end_ms() const { return c_->end_ms; }
    std::size_t line_count() const { return static_cast<std::size_t>(c_->lines.count); }
    std::string_view line(std::size_t j) const { return c_->lines.items[j]; }
    std::vector<std::string_view> lines() const { return {c_->lines.items, c_->lines.items + c_->lines.count}; }
    bool is_danmu() const { return c_->is_danmu != 0; }
    int32_t mode() const { return c_->mode; }
    uint32_t color() const { return c_->color; }
    float fontsize() const { return c_->fontsize; }

private:
    const sub_cue* c_;
};

// What one parse produced. Movable, not copyable; frees everything when destroyed.
class Result {
public:
    Result() noexcept;
    ~Result();
    Result(Result&& other) noexcept;
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    // 0 on success; 1 unknown format, 2 conversion failed, 3 empty input, 4 out of memory,
    // 5 nothing usable found.
    int code() const { return code_; }
    bool ok() const { return code_ == SUB_OK; }
    explicit operator bool() const { return ok(); }
    // Why the parse failed (also a first parser's message after a successful second chance).
    std::string_view error() const { return st_.error; }

    Format format() const { return static_cast<Format>(st_.format); }
    std::string_view format_name() const;

    std::size_t size() const { return static_cast<std::size_t>(st_.count); }
    bool empty() const { return st_.count == 0; }
    CueRef operator[](std::size_t i) const { return CueRef(st_.cues[i]); }

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
        iterator& operator++() { ++p_; return *this; }
        iterator operator++(int) { iterator t = *this; ++p_; return t; }
        bool operator==(const iterator&) const = default;
    private:
        const sub_cue* p_ = nullptr;
    };
    iterator begin() const { return iterator(st_.cues); }
    iterator end() const { return iterator(st_.cues + st_.count); }

    std::vector<std::string_view> warnings() const;
    // The JSON result document, written on request ("{}" after a failure).
    std::string json() const;

private:
    friend Result parse(const void*, std::size_t, Format, const char*);
    sub_state st_;
    int code_ = 0;
};

// Parses one whole file. `encoding` null or empty means automatic detection (UTF-8, else
// CP1252); "detect" runs the charset detector for files of unknown origin.
Result parse(const void* data, std::size_t len, Format format = Format::Auto, const char* encoding = nullptr);

inline Result parse(std::string_view bytes, Format format = Format::Auto, const char* encoding = nullptr) {
    return parse(bytes.data(), bytes.size(), format, encoding);
}

// Guesses the format from content and, as a last resort, the file name's extension.
inline Format detect_format(std::string_view bytes, const char* filename = nullptr) {
    return static_cast<Format>(sub_detect_format(bytes.data(), bytes.size(), filename));
}

} // namespace cuekit
