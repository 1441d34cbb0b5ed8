// The C interface of the writers and time operations, on g_sub. No exception leaves here.
#include "core/retime.hpp"
#include "writers/writer.hpp"

#include <cstdlib>
#include <cstring>

using namespace cuekit;

namespace {

// A malloc'd buffer that grows as the writer hands it text; always NUL-terminated.
struct Buffer {
    char* data = nullptr;
    size_t len = 0;
    size_t cap = 0;
};

bool buffer_sink(void* ctx, const char* p, size_t n) {
    auto& b = *static_cast<Buffer*>(ctx);
    if (n >= b.cap - b.len || !b.data) {
        size_t cap = b.cap ? b.cap : 4096;
        while (cap - b.len <= n) {
            if (cap > SIZE_MAX / 2) return false;
            cap *= 2;
        }
        void* grown = std::realloc(b.data, cap);
        if (!grown) return false;
        b.data = static_cast<char*>(grown);
        b.cap = cap;
    }
    std::memcpy(b.data + b.len, p, n);
    b.len += n;
    b.data[b.len] = '\0';
    return true;
}

// The options record of the C interface as the library's own; the font only when `font`
// (its copy is the one allocation, std::bad_alloc).
WriteOptions options_of(const sub_write_options* opts, bool font) {
    WriteOptions o;
    if (!opts) return o;
    o.strip = opts->strip != 0;
    o.canvas_width = opts->canvas_width;
    o.canvas_height = opts->canvas_height;
    if (font && opts->font) o.font = opts->font;
    o.font_scale = opts->font_scale;
    o.opacity = opts->opacity;
    o.scroll_time = opts->scroll_time;
    o.fixed_time = opts->fixed_time;
    o.lanes = opts->lanes;
    o.danmaku_overlap = opts->danmaku_overlap != 0;
    return o;
}

const TargetInfo* target_at(int target) {
    return target >= 0 && static_cast<size_t>(target) < targets().size() ? &targets()[static_cast<size_t>(target)] : nullptr;
}

} // namespace

extern "C" {

void sub_write_options_init(sub_write_options* opts) {
    if (!opts) return;
    const WriteOptions d;
    *opts = sub_write_options{0, d.canvas_width, d.canvas_height, nullptr, d.font_scale, d.opacity,
                              d.scroll_time, d.fixed_time, d.lanes, 0};
}

const char* sub_write_options_check(const sub_write_options* opts) {
    // Checked without a copy of the font, so that checking needs no memory.
    return option_problem_text(options_of(opts, false), opts && opts->font ? opts->font : "");
}

int sub_target_count(void) { return static_cast<int>(targets().size()); }

const char* sub_target_name(int target) {
    const std::string_view name = target_name(target);
    return name.empty() ? nullptr : name.data();
}

const char* sub_target_extension(int target, int k) {
    const TargetInfo* t = target_at(target);
    if (!t || k < 0) return nullptr;
    const std::string_view ext = target_extension(*t, static_cast<size_t>(k));
    return ext.empty() ? nullptr : ext.data();
}

int sub_target_from_name(const char* name) { return name ? target_from_name(name) : SUB_TARGET_UNKNOWN; }

int sub_target_from_path(const char* path) { return path ? target_from_path(path) : SUB_TARGET_UNKNOWN; }

int sub_write(const char* target, const sub_write_options* opts, char** out, size_t* out_len) {
    if (out) *out = nullptr;
    if (out_len) *out_len = 0;
    if (!target || !out || !find_target(target)) return SUB_WRITE_BAD_ARGUMENT;
    Buffer buf;
    const int rc = guard_oom([&] {
        const WriteOptions o = options_of(opts, true);
        if (option_problem_text(o)) return SUB_WRITE_BAD_ARGUMENT;
        if (g_sub.format < 0) return SUB_WRITE_NO_RESULT;
        Notes notes;
        const int r = write_cues(CueView(g_sub), target, o, buffer_sink, &buf, notes);
        for (const std::string& n : notes) warn(g_sub, "%s", n.c_str());
        return r;
    });
    if (rc == SUB_WRITE_OK && !buf.data && !buffer_sink(&buf, "", 0)) {
        std::free(buf.data);
        return SUB_WRITE_NOMEM;
    }
    if (rc != SUB_WRITE_OK) {
        std::free(buf.data);
        // The buffer is the only sink: it refuses only for want of memory.
        return rc == SUB_WRITE_SINK ? SUB_WRITE_NOMEM : rc;
    }
    *out = buf.data;
    if (out_len) *out_len = buf.len;
    return SUB_WRITE_OK;
}

int sub_retime(int shift_ms, double fps_from, double fps_to) {
    return guard_oom([&] { return retime(g_sub, Retime{shift_ms, fps_from, fps_to}); });
}

} // extern "C"
