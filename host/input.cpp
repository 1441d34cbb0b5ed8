#include "host/input.hpp"

#include <cuekit.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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
// A stream that starts with this many NUL bytes is not text in any encoding (UTF-16 and
// UTF-32 text has other bytes between them). The rest is read only to tell whether it passes
// the limit, without being held (/dev/zero).
constexpr std::size_t kNulProbe = std::size_t{16} << 20;

bool all_nul(const char* p, std::size_t n) { return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0); }

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
        } else if (known_extension(name) && it->is_regular_file(ignored)) {
            // Not a FIFO, a device or a link to one: reading those could wait forever.
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

const char* not_text(std::string_view bytes) {
    struct Signature {
        std::string_view magic;
        const char* says;
    };
    static constexpr std::array<Signature, 5> kSignatures{{
        {"\x1F\x8B", "this looks like gzip data; decompress it first"},
        {"PK\x03\x04", "this looks like a zip archive; extract it first"},
        {"PK\x05\x06", "this looks like a zip archive; extract it first"},
        {"\x89PNG\r\n\x1A\n", "this looks like a PNG image, not text"},
        {"\xFF\xD8\xFF", "this looks like a JPEG image, not text"},
    }};
    for (const Signature& s : kSignatures)
        if (bytes.starts_with(s.magic)) return s.says;
    // Text in UTF-16 is at most half NUL bytes, in UTF-32 three quarters.
    const std::string_view head = bytes.substr(0, 1 << 16);
    const auto nul = static_cast<std::size_t>(std::count(head.begin(), head.end(), '\0'));
    return !head.empty() && nul * 4 > head.size() * 3 ? "this is mostly NUL bytes, not text" : nullptr;
}

std::vector<Input> collect_inputs(const std::vector<std::string_view>& paths, bool& walked) {
    std::vector<Input> out;
    walked = false;
    for (const std::string_view p : paths) {
        std::error_code ec;
        if (p != "-" && fs::is_directory(fs::path(p), ec)) {
            walked = true;
            const std::size_t before = out.size();
            walk(fs::path(p), out);
            if (out.size() == before) out.push_back({std::string(p), "no subtitle file in this folder"});
        } else {
            out.push_back({std::string(p), {}});
        }
    }
    return out;
}

std::shared_ptr<const Mapping> FileBytes::take_mapping() {
    len_ = 0;
    return std::move(mapped_);
}

void FileBytes::reset() {
    mapped_.reset();
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
    nul_ = false;
    const Descriptor fd(path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return fail(errno, why, std::strerror(errno));
    struct stat info {};
    const bool have_info = fstat(fd.get(), &info) == 0;
    if (have_info && S_ISDIR(info.st_mode)) return fail(EISDIR, why, std::strerror(EISDIR));
    if (!have_info || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        nul_ = true;
        // One byte past the limit tells that the input exceeds it.
        if (!read_upto(fd.get(), kMaxInput + 1, why)) return false;
        return len_ <= kMaxInput || fail(EFBIG, why, kTooLarge);
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxInput) return fail(EFBIG, why, kTooLarge);
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size >= kMapFrom && map_large_) {
        mapped_ = Mapping::map(fd.get(), size);
        if (mapped_) {
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
        nul_ = nul_ && all_nul(buf_.data() + len_, static_cast<std::size_t>(n));
        len_ += static_cast<std::size_t>(n);
        if (nul_ && len_ >= kNulProbe && len_ < stop) return drain_nul(fd, stop, why);
    }
    buf_.data()[len_] = '\0';
    return true;
}

// Reads the rest of a stream of NUL bytes through the room past what is held, to its end or
// past `stop`. What is held stands for the whole: parsed, it fails as the whole would.
bool FileBytes::drain_nul(int fd, std::size_t stop, std::string& why) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    if (!buf_.reserve(len_ + kChunk + 1)) return fail(ENOMEM, why, "out of memory");
    for (std::size_t total = len_; total < stop;) {
        const ssize_t n = ::read(fd, buf_.data() + len_, std::min(kChunk, stop - total));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno, why, std::string("cannot read the file: ") + std::strerror(errno));
        if (n == 0) break;
        if (!all_nul(buf_.data() + len_, static_cast<std::size_t>(n)))
            return fail(EILSEQ, why, "not text: 16 MiB of NUL bytes, then more");
        total += static_cast<std::size_t>(n);
        if (total >= stop) return fail(EFBIG, why, kTooLarge);
    }
    buf_.data()[len_] = '\0';
    return true;
}

} // namespace host
