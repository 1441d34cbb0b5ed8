// What the tool prints for one file, and the buffer it prints into.
#pragma once

#include "host/buffer.hpp"
#include "host/mapping.hpp"

#include <cuekit.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace tool {

enum class Mode { Listing, Json, Jsonl };

// Output formatted without printf per field. With a file descriptor the text goes out in
// writes of up to 64 KiB; without one it accumulates (a worker's output, handed to the
// writer in one piece).
class Out {
public:
    explicit Out(int fd = -1);
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    Out& str(std::string_view s) {
        if (s.size() <= buf_.capacity() - len_) {
            if (!s.empty()) std::memcpy(buf_.data() + len_, s.data(), s.size());
            len_ += s.size();
            return *this;
        }
        return str_slow(s);
    }
    // Room for `n` bytes (at most the buffer's size, 64 KiB) written in place; `commit` with
    // the end of what was written.
    char* room(std::size_t n) {
        if (n > buf_.capacity() - len_) make_room(n);
        return buf_.data() + len_;
    }
    void commit(const char* end) { len_ = static_cast<std::size_t>(end - buf_.data()); }
    template <std::size_t N>
    Out& lit(const char (&s)[N]) {
        return str(std::string_view(s, N - 1));
    }
    Out& num(long long v);
    Out& hex6(unsigned v);
    // "%.0f": whole numbers directly, anything else through printf's own rounding.
    Out& size0(double v);
    // A JSON string; bytes that are not UTF-8 become U+FFFD, one for each maximal ill-formed
    // part.
    Out& json_string(std::string_view s);

    // Writes what is buffered. False (with errno kept in error()) once a write failed; nothing
    // more is written after that.
    bool flush();
    int error() const { return error_; }
    // What accumulated, without a copy.
    std::string_view view() const { return {buf_.data(), len_}; }
    bool empty() const { return len_ == 0; }

private:
    Out& str_slow(std::string_view s);
    void make_room(std::size_t n);
    void grow(std::size_t cap);

    int fd_;
    int error_ = 0;
    // Bytes [0, len_) are the output; the rest is room.
    host::GrowBuffer buf_;
    std::size_t len_ = 0;
};

// Writes all of `s` to `fd`, going on after interruptions; false with errno set on failure.
bool write_all(int fd, std::string_view s);

// One file's outcome: the parse result, or why the file could not be read or parsed.
struct Report {
    std::string path;         // as the user named it, or as found in a directory
    int code = 0;             // 0, a parse result code, or kReadFailed
    std::string message;      // why, when code is not 0
    cuekit::Result result;    // meaningful when code is 0
    std::shared_ptr<const host::Mapping> input; // the bytes `result` borrows (a mapped file), or null
    const char* hint = nullptr; // with a failed parse: what the bytes look like, when not text
    uint64_t bytes = 0;       // the size of the input
};

// The file could not be read (it is missing, unreadable, too large, a directory...).
constexpr int kReadFailed = 6;

struct EmitOptions {
    Mode mode = Mode::Listing;
    bool prefix = false; // messages start with the file's path (a run of several files)
};

// Prints one file's outcome: its output into `out`, its messages into `err`. Returns false
// when the file failed.
bool emit(const Report& r, const EmitOptions& o, Out& out, std::string& err);

} // namespace tool
