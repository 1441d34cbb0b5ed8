// cuekit: prints the cues of one subtitle, lyrics or danmaku file as a listing or as JSON.
#include <cuekit.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>

namespace {

void usage(const char* prog) {
    std::fprintf(stderr,
                 "Usage: %s <file> [--json] [--format FMT] [--encoding ENC]\n"
                 "  FMT: auto|srt|vtt|ass|ssa|microdvd|subviewer|ttml|ytxml|lrc|sami|bilibili|acfun\n"
                 "  ENC: utf-8|utf-16le|cp1251|cp1252|gbk|big5|shift_jis|latin1|...\n",
                 prog);
}

int format_from_name(const char* name) {
    const int id = sub_format_from_name(name);
    return id == SUB_FORMAT_UNKNOWN ? SUB_FORMAT_AUTO : id; // an unknown name silently means automatic
}

// Buffered standard output: the listing is formatted without printf per field, into a fixed
// buffer that goes out with one write whenever it is nearly full.
class Out {
public:
    ~Out() { flush(); }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    Out() = default;

    Out& str(std::string_view s) {
        if (s.size() > kSize - len_) {
            flush();
            if (s.size() > kSize) { // longer than the whole buffer: straight through
                std::fwrite(s.data(), 1, s.size(), stdout);
                return *this;
            }
        }
        std::memcpy(buf_.data() + len_, s.data(), s.size());
        len_ += s.size();
        return *this;
    }
    template <size_t N>
    Out& lit(const char (&s)[N]) {
        if (N - 1 > kSize - len_) flush();
        std::memcpy(buf_.data() + len_, s, N - 1);
        len_ += N - 1;
        return *this;
    }
    Out& num(long long v) {
        if (kSize - len_ < 24) flush();
        len_ = static_cast<size_t>(std::to_chars(buf_.data() + len_, buf_.data() + kSize, v).ptr - buf_.data());
        return *this;
    }
    Out& hex6(unsigned v) {
        char tmp[16];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v, 16);
        const size_t n = static_cast<size_t>(r.ptr - tmp);
        if (n < 6) str(std::string_view("000000", 6 - n));
        return str(std::string_view(tmp, n));
    }
    // "%.0f": whole numbers directly, anything else through printf's own rounding.
    Out& size0(double v) {
        if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15) {
            if (v == 0 && std::signbit(v)) return lit("-0");
            return num(static_cast<long long>(v));
        }
        char tmp[512];
        const int n = std::snprintf(tmp, sizeof tmp, "%.0f", v);
        return str(std::string_view(tmp, n > 0 ? static_cast<size_t>(n) : 0));
    }
    void flush() {
        if (len_) std::fwrite(buf_.data(), 1, len_, stdout);
        len_ = 0;
    }

private:
    static constexpr size_t kSize = 1 << 16;
    std::array<char, kSize> buf_;
    size_t len_ = 0;
};

void print_listing() {
    static Out out; // 64 KiB: not for the stack
    out.lit("# format=").str(sub_format_name(sub_detected_format())).lit(" cues=").num(sub_cue_count()).lit("\n");
    const int n = sub_cue_count();
    for (int i = 0; i < n; ++i) {
        out.num(static_cast<long long>(i) + 1).lit(") ").num(sub_cue_start_ms(i)).lit(" --> ").num(sub_cue_end_ms(i));
        if (sub_cue_is_danmu(i)) {
            out.lit(" [danmu mode=").num(sub_cue_danmu_mode(i)).lit(" color=#").hex6(sub_cue_danmu_color(i));
            out.lit(" size=").size0(static_cast<double>(sub_cue_danmu_fontsize(i))).lit("]");
        }
        out.lit("\n");
        const int lines = sub_cue_line_count(i);
        for (int j = 0; j < lines; ++j) out.lit("   ").str(sub_cue_line(i, j)).lit("\n");
    }
    out.flush();
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// The whole file, mapped when the system allows it (no copy through a read buffer), read
// otherwise.
class FileBytes {
public:
    FileBytes() = default;
    ~FileBytes() { reset(); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    const char* data() const { return mapped_ ? static_cast<const char*>(mapped_) : read_.get(); }
    size_t size() const { return len_; }
    void reset() {
        if (mapped_) munmap(mapped_, len_);
        mapped_ = nullptr;
        read_.reset();
        len_ = 0;
    }
    // Prints why on failure (one line on stderr) and returns false.
    bool load(const char* path);

private:
    void* mapped_ = nullptr;
    std::unique_ptr<char[]> read_;
    size_t len_ = 0;
};

bool FileBytes::load(const char* path) {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "rb"));
    if (!f) {
        std::perror(path);
        return false;
    }
    // A directory opens fine on some systems and reports a meaningless size.
    struct stat info {};
    const bool have_info = fstat(fileno(f.get()), &info) == 0;
    if (have_info && S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(EISDIR));
        return false;
    }
    long size = -1;
    if (std::fseek(f.get(), 0, SEEK_END) == 0) size = std::ftell(f.get());
    if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) {
        std::fprintf(stderr, "%s: cannot read the file size: %s\n", path, std::strerror(errno));
        return false;
    }
    if (size > INT32_MAX) {
        std::fprintf(stderr, "%s: file too large (2 GiB or more)\n", path);
        return false;
    }
    if (size > 0 && have_info && S_ISREG(info.st_mode)) {
        void* m = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(f.get()), 0);
        if (m != MAP_FAILED) {
            mapped_ = m;
            len_ = static_cast<size_t>(size);
            return true;
        }
    }
    read_.reset(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
    if (!read_) {
        std::fprintf(stderr, "%s: out of memory\n", path);
        return false;
    }
    len_ = std::fread(read_.get(), 1, static_cast<size_t>(size), f.get());
    if (std::ferror(f.get())) {
        std::fprintf(stderr, "%s: cannot read the file: %s\n", path, std::strerror(errno));
        return false;
    }
    read_[len_] = '\0';
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const char* prog = argv[0] ? argv[0] : "cuekit";
    if (argc < 2) {
        usage(prog);
        return 2;
    }
    bool json = false;
    int format = SUB_FORMAT_AUTO;
    const char* encoding = nullptr;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--json") {
            json = true;
        } else if ((a == "--format" || a == "--encoding") && i + 1 < argc) {
            if (a == "--format")
                format = format_from_name(argv[++i]);
            else
                encoding = argv[++i];
        } else if (a == "-h" || a == "--help") {
            usage(prog);
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "unknown arg %s\n", argv[i]);
            usage(prog);
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        usage(prog);
        return 2;
    }

    FileBytes file;
    if (!file.load(path)) return 1;
    if (format == SUB_FORMAT_AUTO) format = sub_detect_format(file.data(), file.size(), path);
    const int rc = sub_parse(file.data(), file.size(), format, encoding);
    file.reset();
    if (rc != SUB_OK) {
        std::fprintf(stderr, "parse error %d: %s\n", rc, sub_last_error());
        return 1;
    }
    if (json) {
        std::fputs(sub_result_json(), stdout);
        std::fputc('\n', stdout);
    } else {
        print_listing();
    }
    std::fflush(stdout);
    for (int i = 0; i < sub_warning_count(); ++i) {
        const char* w = sub_warning(i);
        std::fprintf(stderr, "warning: %s\n", w ? w : "(no memory for the warning text)");
    }
    sub_clear();
    return 0;
}
