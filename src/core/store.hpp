// The cue store every parser writes into: plain records in growing arrays, no allocation per
// cue or per line. A line is a view into the decoded text when the parser hands one over
// unchanged, and a copy in one growing arena otherwise. The C interface's records are made
// from it afterwards (core/records.cpp); the C++ Result keeps it as it is.
#pragma once

#include "cuekit.h"
#include "cuekit.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace cuekit {

using detail::CueRecord;
using detail::DanmakuRecord;
using detail::LineRef;
using detail::WideLineRef;

// Raw storage for PodArray. Small blocks come from malloc; from 1 MiB on, a block is mapped
// straight from the kernel, grown by remapping (never copied) and backed by huge pages where
// the kernel allows: first touch of fresh memory is most of the cost of a large parse, and a
// huge page is cleared in one fault instead of 512. Null when memory ran out; `old` stays valid.
void* block_resize(void* old, size_t old_bytes, size_t new_bytes);
void block_free(void* p, size_t bytes);

// An array of plain records that grows by doubling. Reports a failed allocation instead of
// throwing.
template <typename T>
class PodArray {
public:
    PodArray() = default;
    ~PodArray() { block_free(data_, cap_ * sizeof(T)); }
    PodArray(const PodArray&) = delete;
    PodArray& operator=(const PodArray&) = delete;

    bool push(const T& v) {
        if (size_ == cap_ && !grow(size_ + 1)) return false;
        data_[size_++] = v;
        return true;
    }
    // Room for `n` more elements at the end, or nullptr; commit with `added`.
    T* extend(size_t n) {
        if (n > cap_ - size_ && !grow(size_ + n)) return nullptr;
        return data_ + size_;
    }
    void added(size_t n) { size_ += n; }
    void shrink_to(size_t n) { size_ = n < size_ ? n : size_; }
    void reset() {
        block_free(data_, cap_ * sizeof(T));
        data_ = nullptr;
        size_ = cap_ = 0;
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }

private:
    bool grow(size_t need) {
        size_t cap = cap_ ? cap_ : 16;
        while (cap < need) {
            if (cap > SIZE_MAX / 2 / sizeof(T)) return false;
            cap *= 2;
        }
        void* p = block_resize(data_, cap_ * sizeof(T), cap * sizeof(T));
        if (!p) return false;
        data_ = static_cast<T*>(p);
        cap_ = cap;
        return true;
    }
    T* data_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
};

struct DanmakuStyle;

class Store {
public:
    Store() = default;
    ~Store() { reset(); }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The text that line views may point into: borrowed, or owned (malloc'd, freed here),
    // with what is known of its form.
    void set_text(std::string_view text, char* owned, TextForm form = TextForm::unchecked);
    std::string_view text() const { return text_; }
    TextForm text_form() const { return text_form_; }
    // The owned text, handed over (nullptr when the text is borrowed).
    char* release_text();
    // Makes the store independent of a borrowed text: the text is copied once, whole, when
    // any line still points into it. False when memory ran out.
    bool own_text();

    // Everything back to an empty store (format -1, no error, no warning).
    void reset();
    // Every cue and line, not the text, error or warnings: what the driver does between attempts.
    void clear_cues();
    // Offsets and lengths above `limit` take the wide line records; only tests lower it from
    // 32 bits, to reach that path without gigabytes of input.
    void set_narrow_limit(uint64_t limit) { narrow_limit_ = limit; }

    size_t count() const { return cues_.size(); }
    const CueRecord& cue(size_t i) const { return cues_[i]; }
    std::string_view line(size_t i, size_t j) const { return line_at(cues_[i].first_line + j); }
    // Null when no cue is a danmaku comment.
    const DanmakuRecord* danmaku(size_t i) const { return danmaku_.size() ? &danmaku_[i] : nullptr; }
    // The most cues the store held at once (drops included).
    size_t peak_count() const { return peak_; }
    detail::Records records() const;
    // The records as they are now, kept where a Result can point at them.
    const detail::Records& refresh_view() {
        view_ = records();
        return view_;
    }

    // The narrow interface of the parsers (see the free functions below).
    int add_cue(int32_t start_ms, int32_t end_ms);
    int add_line(int index, std::string_view s);
    void drop_last();
    uint32_t line_count(int index) const { return index >= 0 && static_cast<size_t>(index) < count() ? cues_[index].line_count : 0; }
    bool set_danmaku(int index, const DanmakuRecord& d);
    // Keeps, in order, the cues for which `keep(record)` is true; it may change their times.
    template <typename F>
    void keep_cues(F keep) {
        size_t kept = 0;
        for (size_t i = 0; i < cues_.size(); ++i) {
            if (!keep(cues_[i])) continue;
            cues_[kept] = cues_[i];
            if (danmaku_.size()) danmaku_[kept] = danmaku_[i];
            ++kept;
        }
        cues_.shrink_to(kept);
        danmaku_.shrink_to(kept);
    }

    int32_t format = SUB_FORMAT_AUTO;
    char error[512] = {0};
    // As in the C records: at most 64, a slot whose copy failed holds null.
    char* warnings[64] = {nullptr};
    int32_t warning_count = 0;
    // Cues that the C records held before a C building block ran a parser on them: they
    // count for the "no cues" decision of finish_parse.
    size_t prior_cues = 0;
    // The store refused a cue, a line or a comment's style since its cues were last cleared.
    // Parsers go on past a refusal, so their success (or their "nothing found") would hide
    // the loss; the driver reads this after each one.
    bool lost_data = false;

private:
    std::string_view line_at(size_t k) const {
        return detail::line_view(lines_.data(), wide_ ? wide_lines_.data() : nullptr, text_.data(), arena_.data(), k);
    }
    size_t line_total() const { return wide_ ? wide_lines_.size() : lines_.size(); }
    bool push_line(uint64_t off, uint32_t len, bool in_arena);
    bool widen();

    std::string_view text_;
    char* owned_text_ = nullptr;
    TextForm text_form_ = TextForm::unchecked;
    PodArray<CueRecord> cues_;
    PodArray<LineRef> lines_;
    PodArray<WideLineRef> wide_lines_; // used instead of lines_ once wide_
    bool wide_ = false;
    uint64_t narrow_limit_ = UINT32_MAX;
    PodArray<DanmakuRecord> danmaku_; // empty, or one per cue
    PodArray<char> arena_;
    size_t peak_ = 0;
    detail::Records view_;
};

// ---------------------------------------------------------------------------------------
// What parsers call.

// Index of the new cue, or -1 (error text "oom") when the store cannot grow.
int cue_add(Store& st, int32_t start_ms, int32_t end_ms);
// Appends `s` (which must hold no NUL) to cue `index`, the last cue added: kept as a view
// when it lies in the decoded text, copied into the arena otherwise. 0, or -1 for an index
// that is not the last cue or a failed allocation.
int cue_add_line(Store& st, int index, std::string_view s);
// How every parser stores a cue's text: a text without a line break (LF, CR LF or CR) is one
// line as it is; one with breaks is cut there, each piece trimmed and empty pieces dropped,
// so that no stored line ever holds a break. The count of lines stored, or -1 when a line
// could not be stored.
// A text a parser rewrote (markup removed, entities decoded) often still holds its lines
// unchanged in the decoded text; `finder`, when given, is asked for each line in order and
// returns those same bytes there (which the store keeps as a view) or the line itself.
struct LineFinder {
    std::string_view (*find)(void* context, std::string_view line) = nullptr;
    void* context = nullptr;
};
int cue_add_text(Store& st, int index, std::string_view text, LineFinder finder = {});
void drop_last_cue(Store& st);
uint32_t cue_line_count(const Store& st, int index);

} // namespace cuekit
