// The C++ interface: each Result owns a lean store of its own.
#include "cuekit.hpp"
#include "core/cues.hpp"

#include <new>

namespace cuekit {

const detail::Records Result::kNone{};

Result::~Result() { delete store_; }

Result::Result(Result&& other) noexcept : store_(other.store_), rec_(other.rec_), code_(other.code_) {
    other.store_ = nullptr;
    other.rec_ = &kNone;
    other.code_ = 0;
}

Result& Result::operator=(Result&& other) noexcept {
    if (this != &other) {
        delete store_;
        store_ = other.store_;
        rec_ = other.rec_;
        code_ = other.code_;
        other.store_ = nullptr;
        other.rec_ = &kNone;
        other.code_ = 0;
    }
    return *this;
}

std::string_view Result::error() const { return store_ ? store_->error : ""; }

Format Result::format() const { return static_cast<Format>(store_ ? store_->format : -1); }

std::string_view Result::format_name() const { return cuekit::format_name(store_ ? store_->format : -1); }

std::vector<std::string_view> Result::warnings() const {
    std::vector<std::string_view> out;
    if (!store_) return out;
    out.reserve(static_cast<std::size_t>(store_->warning_count));
    for (int32_t i = 0; i < store_->warning_count; ++i)
        out.emplace_back(store_->warnings[i] ? store_->warnings[i] : "");
    return out;
}

std::string Result::json() const {
    std::string out;
    const bool ok = write_json(
        [](void* context, const char* data, std::size_t size) {
            static_cast<std::string*>(context)->append(data, size);
            return true;
        },
        &out);
    // Only memory stops a document written into a string; "{}" would pass for an empty result.
    if (!ok) throw std::bad_alloc();
    return out;
}

bool Result::write_json(bool (*sink)(void* context, const char* data, std::size_t size), void* context) const {
    if (code_ != 0 || !store_) return sink(context, "{}", 2);
    return guard_oom([&] { return stream_json(*store_, sink, context) ? 0 : 1; }) == 0;
}

bool Result::write_json(std::FILE* out) const {
    const bool written = write_json(
        [](void* context, const char* data, std::size_t size) {
            return std::fwrite(data, 1, size, static_cast<std::FILE*>(context)) == size;
        },
        out);
    // Buffered output may only fail when it is flushed.
    return std::fflush(out) == 0 && written && !std::ferror(out);
}

Result Result::run(const void* data, std::size_t len, Format format, const char* encoding, bool borrow) {
    Result r;
    r.store_ = new (std::nothrow) Store;
    if (!r.store_) {
        r.code_ = 4;
        return r;
    }
    r.code_ = cuekit::parse(*r.store_, data, len, static_cast<int>(format), encoding, borrow);
    r.rec_ = &r.store_->refresh_view();
    return r;
}

Result parse(const void* data, std::size_t len, Format format, const char* encoding) {
    return Result::run(data, len, format, encoding, false);
}

Result parse_borrowed(std::string_view bytes, Format format, const char* encoding) {
    return Result::run(bytes.data(), bytes.size(), format, encoding, true);
}

} // namespace cuekit
