// The C++ interface: each Result owns a parse state of its own.
#include "cuekit.hpp"
#include "core/core.hpp"

#include <cstdlib>
#include <memory>
#include <vector>

namespace cuekit {

Result::Result() noexcept : st_(make_empty_state()) {}

Result::~Result() { state_reset(st_); }

Result::Result(Result&& other) noexcept : st_(other.st_), code_(other.code_) {
    other.st_ = make_empty_state();
    other.code_ = 0;
}

Result& Result::operator=(Result&& other) noexcept {
    if (this != &other) {
        state_reset(st_);
        st_ = other.st_;
        code_ = other.code_;
        other.st_ = make_empty_state();
        other.code_ = 0;
    }
    return *this;
}

std::string_view Result::format_name() const { return cuekit::format_name(st_.format); }

std::vector<std::string_view> Result::warnings() const {
    std::vector<std::string_view> out;
    out.reserve(static_cast<std::size_t>(st_.warning_count));
    for (int32_t i = 0; i < st_.warning_count; ++i) out.emplace_back(st_.warnings[i] ? st_.warnings[i] : "");
    return out;
}

std::string Result::json() const {
    if (code_ != 0) return "{}";
    const std::unique_ptr<char, decltype(&std::free)> text(write_json(st_), &std::free);
    return text ? std::string(text.get()) : std::string("{}");
}

Result parse(const void* data, std::size_t len, Format format, const char* encoding) {
    Result r;
    r.code_ = cuekit::parse(r.st_, data, len, static_cast<int>(format), encoding, false);
    return r;
}

} // namespace cuekit
