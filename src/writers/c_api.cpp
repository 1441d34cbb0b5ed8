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

} // namespace

extern "C" {

void sub_write_options_init(sub_write_options* opts) {
    if (!opts) return;
    const WriteSettings d;
    *opts = sub_write_options{0, d.canvas_w, d.canvas_h, nullptr, d.font_scale, d.opacity,
                              d.scroll_s, d.fixed_s, d.lanes, 0};
}

int sub_write(const char* target, const sub_write_options* opts, char** out, size_t* out_len) {
    if (out) *out = nullptr;
    if (out_len) *out_len = 0;
    if (!target || !out) return 1;
    WriteSettings ws;
    if (opts) {
        ws.strip = opts->strip != 0;
        ws.canvas_w = opts->canvas_width;
        ws.canvas_h = opts->canvas_height;
        ws.font = opts->font ? std::string_view(opts->font) : std::string_view();
        ws.font_scale = opts->font_scale;
        ws.opacity = opts->opacity;
        ws.scroll_s = opts->scroll_time;
        ws.fixed_s = opts->fixed_time;
        ws.lanes = opts->lanes;
        ws.danmaku_overlap = opts->danmaku_overlap != 0;
    }
    if (!find_target(target) || !settings_valid(ws)) return 1;
    if (g_sub.format < 0) return 5;
    Buffer buf;
    const int rc = guard_oom([&] {
        Notes notes;
        const int r = write_cues(CueView(g_sub), target, ws, buffer_sink, &buf, notes);
        for (const std::string& n : notes) warn(g_sub, "%s", n.c_str());
        return r;
    });
    if (rc == 0 && !buf.data && !buffer_sink(&buf, "", 0)) {
        std::free(buf.data);
        return 4;
    }
    if (rc != 0) {
        std::free(buf.data);
        return rc == 6 ? 4 : rc; // the buffer is the only sink: it refuses only for want of memory
    }
    *out = buf.data;
    if (out_len) *out_len = buf.len;
    return 0;
}

int sub_retime(int shift_ms, double fps_from, double fps_to) {
    return guard_oom([&] { return retime(g_sub, Retime{shift_ms, fps_from, fps_to}); });
}

} // extern "C"
