// Conversion options of the tool and the one way output files are written: a temporary file
// in the destination's folder, renamed over the destination once complete, so a failed
// write never leaves a partial file.
#include "convert.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tool {
namespace {

bool read_double(std::string_view s, double& v) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

template <typename T>
bool read_int(std::string_view s, T& v) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size();
}

// The command-line name of a number option of the library: font_scale is --font-scale.
std::string flag_of(const cuekit::NumberOption& n) {
    std::string flag = std::string("--") + n.name;
    for (char& ch : flag)
        if (ch == '_') ch = '-';
    return flag;
}

// The target that a name or a file name's extension names, by its own name; "" for none.
std::string_view target_named(int target) { return target == SUB_TARGET_UNKNOWN ? "" : cuekit::target_name(target); }

// Reads one option's value; a message when it is bad. The library checks the ASS and
// danmaku settings; a value that is no number reads as one out of every range.
std::string read_value(std::string_view name, std::string_view v, Convert& c) {
    const std::string at = std::string(name) + " " + std::string(v) + ": ";
    if (name == "--to") {
        c.target = target_named(cuekit::target_from_name(v));
        if (c.target.empty()) return at + "unknown target (" + target_names(", ", " or ") + ")";
    } else if (name == "-o") {
        if (v.empty()) return "-o: the output path is empty";
        c.out_path = v.data();
    } else if (name == "--out-dir") {
        if (v.empty()) return "--out-dir: the folder name is empty";
        c.out_dir = v.data();
    } else if (name == "--shift") {
        if (!read_int(v, c.shift_ms)) return at + "expected a whole number of milliseconds, e.g. -1500";
    } else if (name == "--fps") {
        const size_t colon = v.find(':');
        double from = 0, to = 0;
        if (colon == std::string_view::npos || !read_double(v.substr(0, colon), from) ||
            !read_double(v.substr(colon + 1), to) || !(from > 0) || !(to > 0))
            return at + "expected two positive frame rates FROM:TO, e.g. 23.976:25";
        c.fps_from = from;
        c.fps_to = to;
    } else if (name == "--canvas") {
        const size_t x = v.find('x');
        int w = 0, h = 0;
        if (x == std::string_view::npos || !read_int(v.substr(0, x), w) || !read_int(v.substr(x + 1), h)) w = h = 0;
        c.write.canvas_width = w;
        c.write.canvas_height = h;
        if (const cuekit::OptionProblem p = cuekit::check_options(c.write)) {
            char range[96];
            std::snprintf(range, sizeof range, "expected WIDTHxHEIGHT from %g to %g each, e.g. 1920x1080", p.min, p.max);
            return at + range;
        }
    } else if (name == "--font") {
        if (v.empty()) return "--font: the font name is empty";
        c.write.font = v;
        if (cuekit::check_options(c.write)) return at + "a font name holds no comma or line break";
    } else {
        for (const cuekit::NumberOption& n : cuekit::number_options()) {
            if (flag_of(n) != name) continue;
            double d = 0;
            c.write.*n.field = read_double(v, d) ? d : std::nan("");
            if (const cuekit::OptionProblem p = cuekit::check_options(c.write)) return at + std::string(p.expected);
        }
    }
    return "";
}

// The count follows from the list: an empty entry would make an empty argument an option.
constexpr auto kValueOptions = std::to_array<std::string_view>({"--to", "-o", "--out-dir", "--shift", "--fps", "--canvas", "--font"});

bool takes_value(std::string_view a) {
    for (const std::string_view name : kValueOptions)
        if (name == a) return true;
    for (const cuekit::NumberOption& n : cuekit::number_options())
        if (flag_of(n) == a) return true;
    return false;
}

// Options that only an ASS script takes.
constexpr auto kAssOnly = std::to_array<std::string_view>({
    "--canvas", "--font", "--font-scale", "--opacity", "--scroll-time", "--fixed-time", "--lanes", "--danmaku-overlap",
});

// Targets whose outputs, one after the other on standard output, still read as one: plain
// text, and JSON documents of one line each (JSON Lines).
constexpr auto kJoinable = std::to_array<std::string_view>({"txt", "json"});

// The file name of a path, without its last extension.
std::string_view stem(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const size_t dot = path.rfind('.');
    return dot == 0 || dot == std::string_view::npos ? path : path.substr(0, dot);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The file symbolic links from `path` end at, whether it exists or not: writing there keeps
// the links, as for a link that resolves.
std::string follow_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) break;
        target.resize(static_cast<size_t>(n));
        const size_t slash = path.rfind('/');
        if (target[0] != '/' && slash != std::string::npos) target.insert(0, path, 0, slash + 1);
        path = std::move(target);
    }
    return path;
}

// A file however its path is spelled: the real path of its folder, and its name.
std::string file_key(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    char* real = realpath(dir.c_str(), nullptr);
    if (!real) return path;
    std::string key = real;
    std::free(real);
    if (key.back() != '/') key += '/';
    return key + path.substr(slash == std::string::npos ? 0 : slash + 1);
}

bool write_all(int fd, std::string_view s) {
    while (!s.empty()) {
        const ssize_t n = ::write(fd, s.data(), s.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        s.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

struct FdSink {
    int fd;
    bool operator()(std::string_view s) const { return write_all(fd, s); }
};

// Closes `fd` after a write that gave `rc`; 0, or 1 with the message in `error`.
int finish(int rc, int fd, const std::string& dest, std::string& error) {
    const int write_errno = errno;
    const bool closed = ::close(fd) == 0;
    if (rc == 0 && closed) return 0;
    error = dest + ": " + (rc == 4 ? std::string("out of memory") : std::string(std::strerror(rc == 0 ? errno : write_errno)));
    return 1;
}

// Writes the text into a temporary file next to `dest` and renames it over `dest`.
int write_file(const Convert& c, const cuekit::Result& r, const std::string& dest, const std::string& input,
               const host::Mapping* source, std::vector<std::string>& notes, std::string& error) {
    std::string tmp = dest + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) {
        error = dest + ": cannot create a file there: " + std::strerror(errno);
        return 1;
    }
    // mkstemp makes the file private; a converted file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    const int rc = finish(r.write_to(c.target, FdSink{fd}, c.write, &notes), fd, dest, error);
    // A file that changed while it was written out gave text that is not its own.
    if (rc == 0 && source && source->changed()) error = input + ": " + kChanged;
    if (rc != 0 || !error.empty() || std::rename(tmp.c_str(), dest.c_str()) != 0) {
        if (error.empty()) error = dest + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return 1;
    }
    return 0;
}

} // namespace

bool read_convert_option(int argc, char** argv, int& i, Convert& c, std::string& error) {
    const std::string_view a = argv[i];
    if (a == "--strip") {
        c.write.strip = true;
        return true;
    }
    if (a == "--danmaku-overlap") {
        c.write.danmaku_overlap = true;
        c.ass_option = argv[i];
        return true;
    }
    if (!takes_value(a)) return false;
    if (i + 1 >= argc) {
        error = std::string(a) + ": a value must follow";
        return true;
    }
    error = read_value(a, argv[++i], c);
    if (std::find(kAssOnly.begin(), kAssOnly.end(), a) != kAssOnly.end()) c.ass_option = argv[i - 1];
    return true;
}

std::string target_names(std::string_view sep, std::string_view last_sep) {
    std::string list;
    const int n = sub_target_count();
    for (int t = 0; t < n; ++t) list.append(t == 0 ? "" : t + 1 == n ? last_sep : sep).append(cuekit::target_name(t));
    return list;
}


std::string check_convert(Convert& c, size_t inputs) {
    if (c.out_path && c.out_dir) return "-o and --out-dir exclude each other";
    if (c.out_path && inputs > 1) return "-o takes a single input; use --out-dir for several";
    if (c.out_path && c.target.empty()) {
        // The target follows from the output's extension.
        c.target = target_named(cuekit::target_from_path(c.out_path));
        if (c.target.empty()) return std::string("-o ") + c.out_path + ": name the target with --to";
    }
    if (c.out_dir && c.target.empty()) return "--out-dir needs --to";
    if (c.write.strip && c.target.empty()) return "--strip has no effect without --to";
    if (c.ass_option && c.target != "ass") return std::string(c.ass_option) + " has no effect without --to ass";
    return "";
}

std::string prepare_outputs(Convert& c, const std::vector<host::Input>& inputs, int& code) {
    code = 2;
    if (c.out_path && inputs.size() > 1) return "-o takes a single input; use --out-dir for several";
    if (c.converts() && !c.out_path && !c.out_dir && inputs.size() > 1 &&
        std::find(kJoinable.begin(), kJoinable.end(), c.target) == kJoinable.end())
        return "--to " + c.target + " with several inputs: give --out-dir DIR for one file each (only txt and json join on standard output)";
    code = 1;
    if (c.out_dir) {
        struct stat info {};
        if (::stat(c.out_dir, &info) != 0) return std::string("--out-dir ") + c.out_dir + ": " + std::strerror(errno);
        if (!S_ISDIR(info.st_mode)) return std::string("--out-dir ") + c.out_dir + ": " + std::strerror(ENOTDIR);
    }
    if (c.out_path || c.out_dir) {
        for (const host::Input& in : inputs) {
            struct stat info {};
            if (in.path != "-" && ::stat(in.path.c_str(), &info) == 0) c.inputs.emplace(info.st_dev, info.st_ino);
        }
    }
    return "";
}

void retime(const Convert& c, cuekit::Result& r) {
    if (c.retimes()) r.retime(c.shift_ms, c.fps_from, c.fps_to); // the ratio was checked already
}

int write_converted(Convert& c, const cuekit::Result& r, std::string_view input_path, const host::Mapping* source,
                    const cuekit::Sink& to_stdout, std::vector<std::string>& notes, std::string& error) {
    const std::string input(input_path);
    if (!c.out_path && !c.out_dir) {
        const int rc = r.write_to(c.target, to_stdout, c.write, &notes);
        if (rc == 0 && !(source && source->changed())) return 0;
        if (rc == 0) error = input + ": " + kChanged;
        else error = rc == 4 ? "out of memory" : std::string("cannot write to standard output: ") + std::strerror(errno);
        return 1;
    }
    const std::string_view name = input_path == "-" ? std::string_view("stdin") : stem(input_path);
    const std::string given = c.out_path ? std::string(c.out_path) : std::string(c.out_dir) + "/" + std::string(name) + "." + c.target;
    // A link is followed, so the file it names is written and the link stays, even when that
    // file does not exist yet.
    const std::string dest = follow_links(given);
    struct stat in_info {}, out_info {};
    const bool exists = ::stat(dest.c_str(), &out_info) == 0;
    if (exists && c.inputs.count({out_info.st_dev, out_info.st_ino})) {
        const bool self = input_path != "-" && ::stat(input.c_str(), &in_info) == 0 && same_file(in_info, out_info);
        error = self ? input + ": refusing to overwrite the input" : given + ": refusing to overwrite an input";
        return 1;
    }
    if (!c.written.insert(file_key(dest)).second) {
        error = given + ": refusing to overwrite the output of an earlier input";
        return 1;
    }
    // A device or a pipe is written in place: renaming a file over it would replace it.
    if (exists && !S_ISREG(out_info.st_mode)) {
        const int fd = ::open(dest.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) {
            error = dest + ": " + std::strerror(errno);
            return 1;
        }
        if (finish(r.write_to(c.target, FdSink{fd}, c.write, &notes), fd, dest, error) != 0) return 1;
        if (!(source && source->changed())) return 0;
        error = input + ": " + kChanged;
        return 1;
    }
    return write_file(c, r, dest, input, source, notes, error);
}

} // namespace tool
