// The C interface: g_sub and thin wrappers that run the core on it. No exception leaves
// these functions; an allocation failure inside a parser becomes result 4.
#include "core/core.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace cuekit;

namespace {
std::string_view text_view(const char* text, size_t len) { return text ? std::string_view(text, len) : std::string_view(); }
std::string_view cstr_view(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// A parser of the table run on its own, as a building block: its cues are added to those
// g_sub holds. The store gets no text to point into, so every line is a copy. Result 4 when
// the store refused a cue or a line, or the records could not take the cues.
int run_parser(sub_format id, std::string_view text) {
    Store st;
    st.prior_cues = static_cast<size_t>(std::max(g_sub.count, 0));
    int rc = guard_oom([&] { return format_info(id)->parse(st, text); });
    if (st.lost_data) rc = SUB_ERR_NOMEM;
    const int exported = export_records(st, g_sub, false);
    return exported != SUB_OK ? exported : rc;
}
// Entry k of one of a row's lists of names, whose unused entries are "".
template <size_t N>
const char* nth_name(int id, int k, std::array<std::string_view, N> FormatInfo::*list) {
    const FormatInfo* f = format_info(id);
    if (!f || k < 0 || static_cast<size_t>(k) >= N || (f->*list)[static_cast<size_t>(k)].empty()) return nullptr;
    return (f->*list)[static_cast<size_t>(k)].data();
}
} // namespace

extern "C" {

sub_state g_sub = {nullptr, 0, 0, SUB_FORMAT_AUTO, {0}, {nullptr}, 0, nullptr, nullptr, 0};

static const sub_cue* cue_at(int i) { return (i >= 0 && i < g_sub.count) ? &g_sub.cues[i] : nullptr; }

int sub_parse(const void* data, size_t len, int format, const char* encoding) {
    state_reset(g_sub);
    Store st;
    // The input is only read until the records hold their own copies.
    const int rc = parse(st, data, len, format, encoding, true);
    const int exported = export_records(st, g_sub, rc == SUB_OK);
    return exported != SUB_OK ? exported : rc;
}

int sub_detect_format(const void* data, size_t len, const char* filename) {
    return detect_format(data, len, filename);
}

void sub_clear(void) { state_reset(g_sub); }
void sub_state_reset(void) { state_reset(g_sub); }
int sub_cue_count(void) { return g_sub.count; }
int sub_cue_start_ms(int i) { const sub_cue* c = cue_at(i); return c ? c->start_ms : -1; }
int sub_cue_end_ms(int i) { const sub_cue* c = cue_at(i); return c ? c->end_ms : -1; }
int sub_cue_line_count(int i) { const sub_cue* c = cue_at(i); return c ? c->lines.count : 0; }

const char* sub_cue_line(int i, int j) {
    const sub_cue* c = cue_at(i);
    if (!c || j < 0 || j >= c->lines.count) return nullptr;
    return c->lines.items[j];
}

int sub_cue_is_danmu(int i) { const sub_cue* c = cue_at(i); return c ? static_cast<int>(c->is_danmu) : 0; }
int sub_cue_danmu_mode(int i) { const sub_cue* c = cue_at(i); return c ? c->mode : 0; }
unsigned sub_cue_danmu_color(int i) { const sub_cue* c = cue_at(i); return c ? c->color : 0u; }
float sub_cue_danmu_fontsize(int i) { const sub_cue* c = cue_at(i); return c ? c->fontsize : 0.0f; }
const char* sub_last_error(void) { return g_sub.error; }
const char* sub_result_json(void) { return g_sub.json ? g_sub.json : "{}"; }
int sub_warning_count(void) { return g_sub.warning_count; }
const char* sub_warning(int i) { return (i >= 0 && i < g_sub.warning_count) ? g_sub.warnings[i] : nullptr; }
int sub_detected_format(void) { return g_sub.format; }

const char* sub_format_name(int id) { return format_name(id); }
int sub_format_from_name(const char* name) { return format_from_name(name); }

const char* sub_format_alias(int id, int k) { return nth_name(id, k, &FormatInfo::aliases); }
const char* sub_format_extension(int id, int k) { return nth_name(id, k, &FormatInfo::extensions); }

void sub_set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vset_error(g_sub, fmt, ap);
    va_end(ap);
}

void sub_warn(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vwarn(g_sub, fmt, ap);
    va_end(ap);
}

int sub_strlist_push(sub_strlist* list, const char* s) {
    if (!list) return -1;
    return strlist_push(*list, cstr_view(s));
}

void sub_strlist_free(sub_strlist* list) {
    if (list) strlist_free(*list);
}

int sub_cue_add(int start_ms, int end_ms) { return cue_add(g_sub, start_ms, end_ms); }
int sub_cue_add_line(int index, const char* s) { return cue_add_line(g_sub, index, cstr_view(s)); }
int sub_build_json(void) { return build_json(g_sub); }

int sub_decode_to_utf8(const void* data, size_t len, const char* encoding) {
    Store st;
    const int rc = guard_oom([&] { return decode_into(st, data, len, encoding); });
    const int exported = export_records(st, g_sub, false);
    return exported != SUB_OK ? exported : rc;
}

// ---- strings and lines

char* sub_strdup(const char* s) {
    if (!s) return nullptr;
    return sub_strndup(s, std::strlen(s));
}

char* sub_strndup(const char* s, size_t n) {
    if (!s || n == SIZE_MAX) return nullptr;
    return dup_bytes(std::string_view(s, n));
}

void sub_trim_inplace(char* s) {
    if (!s) return;
    const std::string_view t = trim(s);
    if (t.data() != s) std::memmove(s, t.data(), t.size());
    s[t.size()] = '\0';
}

int sub_str_ieq(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return ieq(a, b) ? 1 : 0;
}

int sub_str_istart(const char* s, const char* prefix) {
    if (!s || !prefix) return 0;
    return istarts_with(s, prefix) ? 1 : 0;
}

char* sub_str_casestr(const char* haystack, const char* needle) {
    if (!haystack) return nullptr;
    if (!needle || !*needle) return const_cast<char*>(haystack);
    const size_t at = ifind(haystack, needle);
    return at == std::string_view::npos ? nullptr : const_cast<char*>(haystack + at);
}

char** sub_split_lines(const char* text, size_t len, int* out_count) {
    const std::string_view t = text_view(text, len);
    char** lines = nullptr;
    size_t count = 0, cap = 0;
    auto free_all = [&] {
        for (size_t i = 0; i < count; ++i) std::free(lines[i]);
        std::free(lines);
        return static_cast<char**>(nullptr);
    };
    LineReader reader(t);
    std::string_view line;
    while (reader.next(line)) {
        const bool last = reader.offset() == t.size() && (line.data() + line.size() == t.data() + t.size());
        if (count == cap) {
            // Room for 64 at the first terminator, doubling after; the last line alone grows by one.
            const size_t want = last ? cap + 1 : (cap == 0 ? 64 : cap * 2);
            if (want > static_cast<size_t>(INT32_MAX)) return free_all();
            void* grown = std::realloc(lines, want * sizeof(char*));
            if (!grown) return free_all();
            lines = static_cast<char**>(grown);
            cap = want;
        }
        char* copy = sub_strndup(line.data() ? line.data() : "", line.size());
        if (!copy) return free_all(); // never hand out an array with a missing line
        lines[count++] = copy;
    }
    if (out_count) *out_count = static_cast<int>(count);
    return lines;
}

void sub_free_lines(char** lines, int count) {
    if (!lines) return;
    for (int i = 0; i < count; ++i) std::free(lines[i]);
    std::free(lines);
}

// ---- timestamps and entities

int sub_parse_hms_ms(const char* s, int strict) { return s ? parse_hms_ms(s, strict != 0) : -1; }
int sub_parse_subviewer_time(const char* s) { return s ? parse_hms_ms(s, true) : -1; }
int sub_parse_ssa_time(const char* s) { return s ? parse_ssa_time(s) : -1; }

void sub_html_decode_inplace(char* s) {
    if (!s) return;
    s[html_decode(s, std::strlen(s))] = '\0';
}

// ---- parsers

int sub_parse_srt(const char* text, size_t len) { return run_parser(SUB_FORMAT_SRT, text_view(text, len)); }
int sub_parse_vtt(const char* text, size_t len) { return run_parser(SUB_FORMAT_VTT, text_view(text, len)); }
int sub_parse_ass(const char* text, size_t len) { return run_parser(SUB_FORMAT_ASS, text_view(text, len)); }
int sub_parse_microdvd(const char* text, size_t len) { return run_parser(SUB_FORMAT_MICRODVD, text_view(text, len)); }
int sub_parse_subviewer(const char* text, size_t len) { return run_parser(SUB_FORMAT_SUBVIEWER, text_view(text, len)); }
int sub_parse_ttml(const char* text) { return run_parser(SUB_FORMAT_TTML, cstr_view(text)); }
int sub_parse_ytxml(const char* text) { return run_parser(SUB_FORMAT_YTXML, cstr_view(text)); }
int sub_parse_lrc(const char* text, size_t len) { return run_parser(SUB_FORMAT_LRC, text_view(text, len)); }
int sub_parse_sami(const char* text, size_t len) { return run_parser(SUB_FORMAT_SAMI, text_view(text, len)); }
int sub_parse_bilibili(const char* text) { return run_parser(SUB_FORMAT_BILIBILI, cstr_view(text)); }
int sub_parse_acfun(const char* text, size_t len) { return run_parser(SUB_FORMAT_ACFUN, text_view(text, len)); }

} // extern "C"
