// The C++ interface of the writers and time operations. The writers read the result through
// its public accessors only.
#include "core/retime.hpp"
#include "cuekit.hpp"
#include "writers/writer.hpp"

#include <stdexcept>

namespace cuekit {
namespace {

WriteSettings settings_of(const WriteOptions& o) {
    WriteSettings ws;
    ws.strip = o.strip;
    ws.canvas_w = o.canvas_width;
    ws.canvas_h = o.canvas_height;
    ws.font = o.font;
    ws.font_scale = o.font_scale;
    ws.opacity = o.opacity;
    ws.scroll_s = o.scroll_time;
    ws.fixed_s = o.fixed_time;
    ws.lanes = o.lanes;
    ws.danmaku_overlap = o.danmaku_overlap;
    return ws;
}

bool call_sink(void* ctx, const char* p, size_t n) { return (*static_cast<const Sink*>(ctx))(std::string_view(p, n)); }

std::string_view target_of(Format f) {
    const FormatInfo* info = format_info(static_cast<int>(f));
    return info ? std::string_view(info->name) : std::string_view();
}

} // namespace

int Result::write_to(std::string_view target, const Sink& sink, const WriteOptions& options,
                  std::vector<std::string>* notes) const {
    if (!find_target(target)) return 1;
    if (!ok() || !store_) return 5;
    Notes kept;
    const int rc = write_cues(CueView(*store_), target, settings_of(options), call_sink,
                              const_cast<Sink*>(&sink), kept);
    if (notes) *notes = std::move(kept);
    return rc;
}

int Result::write_to(Format target, const Sink& sink, const WriteOptions& options, std::vector<std::string>* notes) const {
    return write_to(target_of(target), sink, options, notes);
}

std::string Result::write(std::string_view target, const WriteOptions& options) const {
    std::string text;
    const int rc = write_to(target, [&](std::string_view s) { text.append(s); return true; }, options);
    if (rc == 4) throw std::bad_alloc();
    if (rc != 0) throw std::invalid_argument(rc == 5 ? "no parse result to write" : "unknown target or option out of range");
    return text;
}

std::string Result::write(Format target, const WriteOptions& options) const { return write(target_of(target), options); }

int Result::retime(int32_t shift_ms, double fps_from, double fps_to) {
    Store none; // an empty result still checks its arguments
    Store& st = store_ ? *store_ : none;
    const int rc = guard_oom([&] { return cuekit::retime(st, Retime{shift_ms, fps_from, fps_to}); });
    if (store_) rec_ = &store_->refresh_view();
    return rc;
}

} // namespace cuekit
