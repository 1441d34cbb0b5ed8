#include "output.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <new>
#include <unistd.h>

namespace tool {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

} // namespace

Out::Out(int fd) : fd_(fd) {
    if (fd_ >= 0) grow(kBufferSize);
}

void Out::make_room(std::size_t n) {
    if (fd_ >= 0) {
        flush();
        return;
    }
    grow(std::max(len_ + n, std::max<std::size_t>(2 * buf_.capacity(), 4096)));
}

void Out::grow(std::size_t cap) {
    if (!buf_.reserve(cap)) throw std::bad_alloc();
}

Out& Out::str_slow(std::string_view s) {
    // A large piece (the streamed document comes in windows) goes straight through: copying
    // it into the buffer first would only cost a pass over it.
    if (fd_ >= 0 && s.size() >= kBufferSize / 4) {
        flush();
        if (!error_ && !write_all(fd_, s)) error_ = errno;
        return *this;
    }
    make_room(s.size());
    std::memcpy(buf_.data() + len_, s.data(), s.size());
    len_ += s.size();
    return *this;
}

namespace {

template <std::size_t N>
char* put(char* p, const char (&s)[N]) {
    std::memcpy(p, s, N - 1);
    return p + N - 1;
}

// Writes v at p (room for 24 bytes); returns the end.
template <typename T>
char* decimal(char* p, T v) {
    return std::to_chars(p, p + 24, v).ptr;
}

} // namespace

Out& Out::num(long long v) {
    commit(decimal(room(24), v));
    return *this;
}

Out& Out::hex6(unsigned v) {
    char tmp[16];
    const auto n = static_cast<std::size_t>(std::to_chars(tmp, tmp + sizeof tmp, v, 16).ptr - tmp);
    if (n < 6) str(std::string_view("000000", 6 - n));
    return str(std::string_view(tmp, n));
}

Out& Out::size0(double v) {
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15) {
        if (v == 0 && std::signbit(v)) return lit("-0");
        return num(static_cast<long long>(v));
    }
    char tmp[512];
    const int n = std::snprintf(tmp, sizeof tmp, "%.0f", v);
    return str(std::string_view(tmp, n > 0 ? static_cast<std::size_t>(n) : 0));
}

Out& Out::json_string(std::string_view s) { return str(cuekit::json_quoted(s)); }

bool Out::flush() {
    if (fd_ >= 0 && len_ && !error_ && !write_all(fd_, view())) error_ = errno;
    len_ = 0;
    return error_ == 0;
}

bool write_all(int fd, std::string_view s) {
    while (!s.empty()) {
        const ssize_t n = ::write(fd, s.data(), s.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        s.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

namespace {

void listing(const cuekit::Result& r, Out& out) {
    out.lit("# format=").str(r.format_name()).lit(" cues=").num(static_cast<long long>(r.size())).lit("\n");
    // Most of the output: a cue's head and its lines, written in place with one check of
    // the room each.
    constexpr std::size_t kHead = 2 * 24 + 20 + 8;
    constexpr std::size_t kShortLine = 4096;
    unsigned long long n = 0;
    for (const cuekit::CueRef cue : r) {
        char* p = out.room(kHead);
        p = decimal(p, ++n);
        p = put(p, ") ");
        p = decimal(p, cue.start_ms());
        p = put(p, " --> ");
        p = decimal(p, cue.end_ms());
        if (cue.is_danmu()) {
            out.commit(p);
            out.lit(" [danmu mode=").num(cue.mode()).lit(" color=#").hex6(cue.color());
            out.lit(" size=").size0(static_cast<double>(cue.fontsize())).lit("]");
            p = out.room(1);
        }
        *p++ = '\n';
        out.commit(p);
        for (std::size_t j = 0; j < cue.line_count(); ++j) {
            const std::string_view line = cue.line(j);
            if (line.size() > kShortLine) {
                out.lit("   ").str(line).lit("\n");
                continue;
            }
            p = out.room(line.size() + 4);
            p = put(p, "   ");
            if (!line.empty()) std::memcpy(p, line.data(), line.size());
            p += line.size();
            *p++ = '\n';
            out.commit(p);
        }
    }
}

// A warning slot whose text could not be stored reads as empty.
std::string_view warning_text(std::string_view w) { return w.empty() ? "(no memory for the warning text)" : w; }

void json_line_error(const Report& r, int code, std::string_view message, Out& out) {
    out.lit("{\"path\":").json_string(r.path).lit(",\"error\":{\"code\":").num(code);
    out.lit(",\"message\":").json_string(message).lit("}}\n");
}

// Streams the result document into `out`, less its first `skip_first` bytes and, with
// `hold_last`, its last byte. False when the document could not be written whole.
bool stream_document(const cuekit::Result& r, Out& out, std::size_t skip_first, bool hold_last) {
    struct Sink {
        Out& out;
        std::size_t skip;
        bool hold;
        char held = 0;
        bool holding = false;
    } sink{out, skip_first, hold_last};
    return r.write_json(
        [](void* context, const char* data, std::size_t size) {
            auto& k = *static_cast<Sink*>(context);
            std::string_view piece(data, size);
            const std::size_t skip = std::min(k.skip, piece.size());
            piece.remove_prefix(skip);
            k.skip -= skip;
            if (!k.hold || piece.empty()) {
                k.out.str(piece);
                return true;
            }
            if (k.holding) k.out.str(std::string_view(&k.held, 1));
            k.out.str(piece.substr(0, piece.size() - 1));
            k.held = piece.back();
            k.holding = true;
            return true;
        },
        &sink);
}

// The result document with the path in front and the warnings behind, on one line: the
// document's members go out as they are written, without its braces.
bool json_line(const Report& r, Out& out) {
    if (r.code != 0) {
        json_line_error(r, r.code, r.message, out);
        return false;
    }
    out.lit("{\"path\":").json_string(r.path).lit(",");
    if (!stream_document(r.result, out, 1, true)) {
        out.lit("\n");
        json_line_error(r, 4, "out of memory", out);
        return false;
    }
    out.lit(",\"warnings\":[");
    bool first = true;
    for (const std::string_view w : r.result.warnings()) {
        if (!first) out.lit(",");
        first = false;
        out.json_string(warning_text(w));
    }
    out.lit("]}\n");
    return true;
}

} // namespace

bool emit(const Report& r, const EmitOptions& o, Out& out, std::string& err) {
    if (o.mode == Mode::Jsonl) return json_line(r, out);
    const std::string prefix = o.prefix ? r.path + ": " : std::string();
    if (r.code == kReadFailed) {
        err.append(r.path).append(": ").append(r.message).append("\n");
        return false;
    }
    if (r.code != 0) {
        if (r.hint) err.append(prefix).append("warning: ").append(r.hint).append("\n");
        err.append(prefix).append("parse error ").append(std::to_string(r.code)).append(": ").append(r.message).append("\n");
        return false;
    }
    if (o.mode == Mode::Json) {
        if (!stream_document(r.result, out, 0, false)) {
            out.lit("\n");
            err.append(prefix).append("parse error 4: out of memory\n");
            return false;
        }
        out.lit("\n");
    } else {
        listing(r.result, out);
    }
    for (const std::string_view w : r.result.warnings()) err.append(prefix).append("warning: ").append(warning_text(w)).append("\n");
    return true;
}

} // namespace tool
