#include "host/input.hpp"

#include <cuekit.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {
namespace fs = std::filesystem;
namespace {

// Files this large are mapped; smaller ones are cheaper to read into a buffer that is
// reused (a mapping costs page-table work on every thread of the process when it goes).
constexpr std::size_t kMapFrom = std::size_t{1} << 20;
// The read buffer is given back after a file larger than this.
constexpr std::size_t kKeepBuffer = std::size_t{4} << 20;
// Inputs of 2 GiB or more are refused: the library counts in 32 bits.
constexpr std::size_t kMaxInput = INT32_MAX;

const char* const kTooLarge = "file too large (2 GiB or more)";

bool known_extension(const std::string& name) {
    // Without content, detection goes by the name's extension alone.
    return sub_detect_format(nullptr, 0, name.c_str()) != SUB_FORMAT_AUTO;
}

void walk(const fs::path& dir, std::vector<Input>& out) {
    struct Entry {
        std::string name;
        bool folder;
    };
    std::vector<Entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        std::string name = it->path().filename().string();
        const bool link = it->is_symlink(ignored);
        if (!link && it->is_directory(ignored)) {
            entries.push_back({std::move(name), true});
        } else if (known_extension(name) && !(link && fs::is_directory(it->path(), ignored))) {
            entries.push_back({std::move(name), false});
        }
    }
    if (ec) {
        out.push_back({dir.string(), ec.message()});
        return;
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& e : entries) {
        if (e.folder)
            walk(dir / e.name, out);
        else
            out.push_back({(dir / e.name).string(), {}});
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ > STDIN_FILENO) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::vector<Input> collect_inputs(const std::vector<std::string_view>& paths, bool& walked) {
    std::vector<Input> out;
    walked = false;
    for (const std::string_view p : paths) {
        std::error_code ec;
        if (p != "-" && fs::is_directory(fs::path(p), ec)) {
            walked = true;
            walk(fs::path(p), out);
        } else {
            out.push_back({std::string(p), {}});
        }
    }
    return out;
}

std::shared_ptr<const void> FileBytes::take_mapping() {
    if (!mapped_) return nullptr;
    const std::size_t len = len_;
    std::shared_ptr<const void> owner(mapped_, [len](const void* p) { munmap(const_cast<void*>(p), len); });
    mapped_ = nullptr;
    len_ = 0;
    return owner;
}

void FileBytes::reset() {
    if (mapped_) munmap(mapped_, len_);
    mapped_ = nullptr;
    len_ = 0;
    if (buf_.capacity() > kKeepBuffer) buf_.clear();
}

bool FileBytes::fail(int err, std::string& why, std::string text) {
    errno_ = err;
    why = std::move(text);
    return false;
}

bool FileBytes::load(const std::string& path, std::string& why) {
    reset();
    errno_ = 0;
    const Descriptor fd(path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return fail(errno, why, std::strerror(errno));
    struct stat info {};
    const bool have_info = fstat(fd.get(), &info) == 0;
    if (have_info && S_ISDIR(info.st_mode)) return fail(EISDIR, why, std::strerror(EISDIR));
    if (!have_info || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        // One byte past the limit tells that the input exceeds it.
        if (!read_upto(fd.get(), kMaxInput + 1, why)) return false;
        return len_ <= kMaxInput || fail(EFBIG, why, kTooLarge);
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxInput) return fail(EFBIG, why, kTooLarge);
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size >= kMapFrom && map_large_) {
        void* m = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.get(), 0);
        if (m != MAP_FAILED) {
            mapped_ = m;
            len_ = size;
            return true;
        }
    }
    if (!buf_.reserve(size + 1)) return fail(ENOMEM, why, "out of memory");
    return read_upto(fd.get(), size, why); // a file that shrank meanwhile gives what it still has
}

// Reads until the end of the input or `stop` bytes, growing the buffer as it fills.
bool FileBytes::read_upto(int fd, std::size_t stop, std::string& why) {
    while (len_ < stop) {
        if (len_ + 1 >= buf_.capacity() && !buf_.reserve(std::min(std::max<std::size_t>(buf_.capacity() * 2, std::size_t{64} << 10), stop + 1)))
            return fail(ENOMEM, why, "out of memory");
        const ssize_t n = ::read(fd, buf_.data() + len_, std::min(buf_.capacity() - len_ - 1, stop - len_));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno, why, std::string("cannot read the file: ") + std::strerror(errno));
        if (n == 0) break;
        len_ += static_cast<std::size_t>(n);
    }
    buf_.data()[len_] = '\0';
    return true;
}

} // namespace host
