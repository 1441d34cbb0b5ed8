// The parse state: cue store, error text and warnings. Everything the state holds is a
// heap copy it owns (malloc/free), because the records are part of the C interface.
#include "core/core.hpp"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cuekit {
namespace {

// Doubles `capacity` (starting at `first`), or returns false when that would overflow.
bool next_capacity(int32_t capacity, int32_t first, int32_t& out) {
    if (capacity == 0) {
        out = first;
        return true;
    }
    if (capacity > INT32_MAX / 2) return false;
    out = capacity * 2;
    return true;
}

} // namespace

sub_state make_empty_state() {
    sub_state st;
    std::memset(&st, 0, sizeof st);
    st.format = SUB_FORMAT_AUTO;
    return st;
}

int strlist_push(sub_strlist& list, std::string_view s) {
    if (list.count == list.capacity) {
        int32_t cap = 0;
        if (!next_capacity(list.capacity, 4, cap)) return -1;
        void* grown = std::realloc(list.items, static_cast<size_t>(cap) * sizeof(char*));
        if (!grown) return -1;
        list.items = static_cast<char**>(grown);
        list.capacity = cap;
    }
    char* copy = dup_bytes(s);
    if (!copy) return -1;
    list.items[list.count++] = copy;
    return 0;
}

void strlist_free(sub_strlist& list) {
    if (list.items) {
        for (int32_t i = 0; i < list.count; ++i) std::free(list.items[i]);
        std::free(list.items);
    }
    list.items = nullptr;
    list.count = 0;
    list.capacity = 0;
}

int cue_add(sub_state& st, int32_t start_ms, int32_t end_ms) {
    if (st.count == st.capacity) {
        int32_t cap = 0;
        void* grown = nullptr;
        if (next_capacity(st.capacity, 16, cap))
            grown = std::realloc(st.cues, static_cast<size_t>(cap) * sizeof(sub_cue));
        if (!grown) {
            set_error(st, "oom");
            return -1;
        }
        st.cues = static_cast<sub_cue*>(grown);
        st.capacity = cap;
    }
    sub_cue& c = st.cues[st.count];
    c.start_ms = start_ms;
    c.end_ms = end_ms;
    c.lines = sub_strlist{nullptr, 0, 0};
    c.is_danmu = 0;
    c.mode = 0;
    c.color = 0;
    c.fontsize = 25.0f;
    return st.count++;
}

int cue_add_line(sub_state& st, int index, std::string_view s) {
    if (index < 0 || index >= st.count) return -1;
    return strlist_push(st.cues[index].lines, s);
}

void drop_last_cue(sub_state& st) {
    if (st.count <= 0) return;
    strlist_free(st.cues[st.count - 1].lines);
    --st.count;
}

void clear_cues(sub_state& st) {
    if (st.cues) {
        for (int32_t i = 0; i < st.count; ++i) strlist_free(st.cues[i].lines);
        std::free(st.cues);
    }
    st.cues = nullptr;
    st.count = 0;
    st.capacity = 0;
}

namespace {

// The C records and the lean store keep their error text and warnings alike.
template <typename State>
void vset_error_in(State& st, const char* fmt, va_list ap) {
    std::vsnprintf(st.error, sizeof st.error, fmt, ap);
}

template <typename State>
void vwarn_in(State& st, const char* fmt, va_list ap) {
    if (st.warning_count >= 64) return;
    char buf[256];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    // A copy that cannot be made still takes its slot, and reads back as null.
    st.warnings[st.warning_count++] = dup_bytes(buf);
}

} // namespace

void vset_error(sub_state& st, const char* fmt, va_list ap) { vset_error_in(st, fmt, ap); }
void vset_error(Store& st, const char* fmt, va_list ap) { vset_error_in(st, fmt, ap); }
void vwarn(sub_state& st, const char* fmt, va_list ap) { vwarn_in(st, fmt, ap); }
void vwarn(Store& st, const char* fmt, va_list ap) { vwarn_in(st, fmt, ap); }

void state_reset(sub_state& st) {
    clear_cues(st);
    for (int32_t i = 0; i < st.warning_count && i < 64; ++i) std::free(st.warnings[i]);
    std::free(st.json);
    std::free(st.text);
    st = make_empty_state();
}

} // namespace cuekit
