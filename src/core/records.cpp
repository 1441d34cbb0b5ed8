// The C interface's records made from a lean store: every line its own NUL-terminated copy
// in a list of its own, with the capacities the records' own growth rules would have left.
#include "core/cues.hpp"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace cuekit {
namespace {

// The capacity doubling from `cap` (starting at `first`) reaches for `need` elements, or -1
// past the int32 range.
int64_t grown_capacity(int64_t cap, int64_t first, int64_t need) {
    while (cap < need) {
        cap = cap == 0 ? first : cap * 2;
        if (cap > INT32_MAX) return -1;
    }
    return cap;
}

bool export_lines(const Store& st, size_t i, sub_strlist& out) {
    const size_t n = st.cue(i).line_count;
    out = sub_strlist{nullptr, 0, 0};
    if (n == 0) return true;
    const int64_t cap = grown_capacity(0, 4, static_cast<int64_t>(n));
    if (cap < 0) return false;
    out.items = static_cast<char**>(std::malloc(static_cast<size_t>(cap) * sizeof(char*)));
    if (!out.items) return false;
    out.capacity = static_cast<int32_t>(cap);
    for (size_t j = 0; j < n; ++j) {
        char* copy = dup_bytes(st.line(i, j));
        if (!copy) return false; // the list as far as it got is freed by the caller
        out.items[out.count++] = copy;
    }
    return true;
}

int export_cues(const Store& st, sub_state& out) {
    const size_t n = st.count();
    if (n == 0) return SUB_OK;
    const int64_t prior = out.count;
    if (n > static_cast<size_t>(INT32_MAX - prior)) return SUB_ERR_NOMEM;
    const int64_t peak = prior + static_cast<int64_t>(st.peak_count());
    const int64_t cap = grown_capacity(out.capacity, 16, std::min<int64_t>(peak, INT32_MAX));
    if (cap < 0) return SUB_ERR_NOMEM;
    if (cap != out.capacity) {
        void* grown = std::realloc(out.cues, static_cast<size_t>(cap) * sizeof(sub_cue));
        if (!grown) return SUB_ERR_NOMEM;
        out.cues = static_cast<sub_cue*>(grown);
        out.capacity = static_cast<int32_t>(cap);
    }
    for (size_t i = 0; i < n; ++i) {
        sub_cue& c = out.cues[out.count];
        const CueRecord& r = st.cue(i);
        const DanmakuRecord* d = st.danmaku(i);
        c.start_ms = r.start_ms;
        c.end_ms = r.end_ms;
        c.is_danmu = d ? d->is_danmu : 0;
        c.mode = d ? d->mode : 0;
        c.color = d ? d->color : 0;
        c.fontsize = d ? d->fontsize : 25.0f;
        const bool ok = export_lines(st, i, c.lines);
        ++out.count; // a partial list is freed with the others
        if (!ok) {
            while (out.count > prior) strlist_free(out.cues[--out.count].lines);
            return SUB_ERR_NOMEM;
        }
    }
    return SUB_OK;
}

} // namespace

int export_records(Store& st, sub_state& out, bool with_json) {
    if (st.error[0]) std::memcpy(out.error, st.error, sizeof out.error);
    if (st.format != SUB_FORMAT_AUTO) out.format = st.format;
    for (int32_t i = 0; i < st.warning_count; ++i) {
        if (out.warning_count < 64)
            out.warnings[out.warning_count++] = st.warnings[i];
        else
            std::free(st.warnings[i]);
    }
    st.warning_count = 0;
    if (const std::string_view text = st.text(); text.data()) {
        char* owned = st.release_text();
        char* copy = owned ? owned : dup_bytes(text);
        if (!copy) return SUB_ERR_NOMEM;
        std::free(out.text);
        out.text = copy;
        out.text_len = text.size();
    }
    if (export_cues(st, out) != 0) {
        set_error(out, "oom");
        return SUB_ERR_NOMEM;
    }
    if (with_json) {
        std::free(out.json);
        out.json = write_json(st); // a document that cannot be built reads as "{}"; still a success
    }
    return SUB_OK;
}

} // namespace cuekit
