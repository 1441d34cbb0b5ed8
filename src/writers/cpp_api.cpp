// The C++ interface of the writers and time operations. The writers read the result through
// its public accessors only.
#include "core/retime.hpp"
#include "cuekit.hpp"
#include "writers/writer.hpp"

#include <stdexcept>

namespace cuekit {
namespace {

bool call_sink(void* ctx, const char* p, size_t n) { return (*static_cast<const Sink*>(ctx))(std::string_view(p, n)); }

std::string_view target_of(Format f) {
    const FormatInfo* info = format_info(static_cast<int>(f));
    return info ? std::string_view(info->name) : std::string_view();
}

int index_of(const TargetInfo* t) { return t ? static_cast<int>(t - targets().data()) : SUB_TARGET_UNKNOWN; }

} // namespace

int target_from_name(std::string_view name) { return index_of(find_target(name)); }
int target_from_path(std::string_view path) { return index_of(target_of_path(path)); }

std::string_view target_name(int target) {
    return target >= 0 && static_cast<size_t>(target) < targets().size() ? targets()[static_cast<size_t>(target)].name
                                                                          : std::string_view();
}

int Result::write_to(std::string_view target, const Sink& sink, const WriteOptions& options,
                  std::vector<std::string>* notes) const {
    if (!find_target(target)) return SUB_WRITE_BAD_ARGUMENT;
    if (!ok() || !store_) return SUB_WRITE_NO_RESULT;
    Notes kept;
    const int rc = write_cues(CueView(*store_), target, options, call_sink,
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
    if (rc == SUB_WRITE_NOMEM) throw std::bad_alloc();
    if (rc == SUB_WRITE_NO_RESULT) throw std::invalid_argument("no parse result to write");
    if (rc != SUB_WRITE_OK) {
        const char* problem = find_target(target) ? option_problem_text(options) : nullptr;
        throw std::invalid_argument(problem ? problem : "unknown target or option out of range");
    }
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
