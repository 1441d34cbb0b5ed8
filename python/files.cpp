// Files are read, not mapped: a long-running interpreter must not die of SIGBUS when a file it
// reads is truncated meanwhile. Sizes of 2 GiB or more are refused, as the tool refuses them.
#include "files.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace cuekit::py {
namespace {

constexpr std::size_t kMaxSize = INT32_MAX;
constexpr const char* kTooLarge = "file too large (2 GiB or more)";

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct Free {
    void operator()(char* p) const { std::free(p); }
};

void grow(std::unique_ptr<char, Free>& buf, std::size_t cap) {
    char* p = static_cast<char*>(std::realloc(buf.get(), cap ? cap : 1));
    if (!p) throw std::bad_alloc();
    static_cast<void>(buf.release()); // realloc took it over
    buf.reset(p);
}

// The file's bytes: `size` of them when the size is known (fewer when the file shrank
// meanwhile), else everything up to the end. Returns errno, or EFBIG past the size limit.
int read_all(int fd, off_t size, std::unique_ptr<char, Free>& buf, std::size_t& len) {
    const bool known = size >= 0;
    std::size_t cap = known ? static_cast<std::size_t>(size) : std::size_t{1} << 16;
    grow(buf, cap);
    len = 0;
    while (true) {
        if (len == cap) {
            if (known) return 0;
            if (cap > kMaxSize) return EFBIG;
            cap *= 2;
            grow(buf, cap);
        }
        const ssize_t n = read(fd, buf.get() + len, cap - len);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return len > kMaxSize ? EFBIG : 0;
        len += static_cast<std::size_t>(n);
    }
}

} // namespace

FileParse parse_path(const std::string& path, Format format, const char* encoding) noexcept {
    FileParse out;
    const auto fail = [&out](int err, const char* message = nullptr) {
        out.sys_error = err;
        out.sys_message = message;
        return std::move(out);
    };
    try {
        const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) return fail(errno);
        struct stat info {};
        if (fstat(fd.get(), &info) != 0) return fail(errno);
        // A directory opens fine and fails only when read.
        if (S_ISDIR(info.st_mode)) return fail(EISDIR);
        // Devices report their size through a seek (a character device: 0); a pipe cannot
        // seek and is read to its end.
        off_t size = info.st_size;
        if (!S_ISREG(info.st_mode)) {
            size = lseek(fd.get(), 0, SEEK_END);
            if (size >= 0 && lseek(fd.get(), 0, SEEK_SET) != 0) return fail(errno);
        }
        if (size > static_cast<off_t>(kMaxSize)) return fail(EFBIG, kTooLarge);
        std::unique_ptr<char, Free> buf;
        std::size_t len = 0;
        if (const int err = read_all(fd.get(), size, buf, len)) return fail(err, err == EFBIG ? kTooLarge : nullptr);
        const std::string_view bytes(buf.get(), len);
        const Format f = format == Format::Auto ? detect_format(bytes, path.c_str()) : format;
        out.result = parse(bytes, f, encoding);
    } catch (const std::bad_alloc&) {
        out.no_memory = true;
    }
    return out;
}

} // namespace cuekit::py
