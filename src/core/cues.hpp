// The one read-only view of a result that the JSON document and every writer read: a result
// kept in the cue store (the C++ Result) or in the C records (g_sub). Two adapters give the
// same members; CueView holds one of them by value and either answers a single member at a
// time (the writers) or hands the adapter itself to a template (the JSON document, whose loop
// is then compiled once for each and makes no choice per line).
#pragma once

#include "core/core.hpp"

#include <string>
#include <vector>

namespace cuekit {

// One cue without its lines.
struct CueData {
    int32_t start_ms = 0;
    int32_t end_ms = 0;
    bool danmu = false;
    int32_t mode = 0;
    uint32_t color = 0;
    float fontsize = 25.0f;
    size_t lines = 0;
};

// The C records. They hold copies of their own lines, so no line lies in a checked text.
struct RecordCues {
    const sub_state* st;
    size_t count() const { return static_cast<size_t>(st->count); }
    int32_t format_id() const { return st->format; }
    std::string_view text() const { return {}; }
    size_t text_len() const { return static_cast<size_t>(st->text_len); }
    TextForm text_form() const { return TextForm::flawed; }
    int32_t start(size_t i) const { return st->cues[i].start_ms; }
    int32_t end(size_t i) const { return st->cues[i].end_ms; }
    size_t line_count(size_t i) const { return static_cast<size_t>(st->cues[i].lines.count); }
    std::string_view line(size_t i, size_t j) const { return st->cues[i].lines.items[j]; }
    const sub_cue* danmaku(size_t i) const { return st->cues[i].is_danmu ? &st->cues[i] : nullptr; }
};

// A snapshot of the store's arrays. Held by value, its pointers are known not to change when
// bytes are stored through an output cursor (a char store may alias anything, so members read
// through a reference would be loaded again for every line).
struct StoreCues {
    StoreCues() = default;
    explicit StoreCues(const Store& st)
        : r(st.records()), text_(st.text()), form(st.text_form()), format(st.format) {}
    detail::Records r{};
    std::string_view text_{};
    TextForm form = TextForm::unchecked;
    int32_t format = SUB_FORMAT_AUTO;
    size_t count() const { return r.count; }
    int32_t format_id() const { return format; }
    std::string_view text() const { return text_; }
    size_t text_len() const { return text_.size(); }
    TextForm text_form() const { return form; }
    int32_t start(size_t i) const { return r.cues[i].start_ms; }
    int32_t end(size_t i) const { return r.cues[i].end_ms; }
    size_t line_count(size_t i) const { return r.cues[i].line_count; }
    std::string_view line(size_t i, size_t j) const {
        return detail::line_view(r.lines, r.wide_lines, r.text, r.arena, r.cues[i].first_line + j);
    }
    const DanmakuRecord* danmaku(size_t i) const { return r.danmaku && r.danmaku[i].is_danmu ? &r.danmaku[i] : nullptr; }
};

class CueView {
public:
    // Implicit, as a view of either is what every reader takes.
    CueView(const Store& st) : store_(st) {}
    CueView(const sub_state& st) : records_{&st} {}

    // Runs `f` on the adapter that holds the cues.
    template <typename F>
    decltype(auto) visit(F&& f) const {
        return records_.st ? f(records_) : f(store_);
    }

    size_t size() const { return records_.st ? records_.count() : store_.count(); }
    // The format the cues were read from (decides how their markup reads), -1 if unknown.
    int source_format() const { return records_.st ? records_.format_id() : store_.format_id(); }
    CueData cue(size_t i) const { return records_.st ? data_of(records_, i) : data_of(store_, i); }
    std::string_view line(size_t i, size_t j) const {
        return records_.st ? records_.line(i, j) : store_.line(i, j);
    }

private:
    // The danmaku fields as each keeps them, whether or not the cue is a comment.
    static CueData data_of(const RecordCues& c, size_t i) {
        const sub_cue& s = c.st->cues[i];
        return {s.start_ms, s.end_ms, s.is_danmu != 0, s.mode, s.color, s.fontsize, static_cast<size_t>(s.lines.count)};
    }
    static CueData data_of(const StoreCues& c, size_t i) {
        CueData d{c.start(i), c.end(i), false, 0, 0, 25.0f, c.line_count(i)};
        if (const DanmakuRecord* m = c.r.danmaku ? &c.r.danmaku[i] : nullptr) {
            d.danmu = m->is_danmu != 0;
            d.mode = m->mode;
            d.color = m->color;
            d.fontsize = m->fontsize;
        }
        return d;
    }
    StoreCues store_;
    RecordCues records_{nullptr};
};

// Lines that stand in for the cues' own in a document (a write that strips markup): the
// lines of cue i, in order. The view stays the source of everything else.
struct LineSource {
    const std::vector<std::string>& (*of)(void* context, size_t i) = nullptr;
    void* context = nullptr;
};

// The result document of `cues` as a malloc'd text, or nullptr when it cannot be written.
char* write_json(const CueView& cues, LineSource lines = {});
// The same handed to `sink` piece by piece; false when the sink refused a piece or memory ran out.
using JsonSinkFn = bool (*)(void* context, const char* data, size_t size);
bool stream_json(const CueView& cues, JsonSinkFn sink, void* context, LineSource lines = {});

} // namespace cuekit
