// cuekit: prints the cues of subtitle, lyrics and danmaku files as a listing, as JSON or as
// JSON Lines, or converts them. This file is the command line; tools/batch.cpp runs it.
#include "batch.hpp"

#include "host/input.hpp"

#include <cuekit.h>
#include <cuekit.hpp>

#include <array>
#include <charconv>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tool::Mode;
using tool::Options;

void usage(const char* prog) {
    std::fprintf(stderr,
                 "Usage: %s <file> [--json] [--format FMT] [--encoding ENC]\n"
                 "  FMT: auto|srt|vtt|ass|ssa|microdvd|subviewer|ttml|ytxml|lrc|sami|bilibili|acfun\n"
                 "  ENC: detect|utf-8|utf-16le|cp1251|cp1252|gbk|big5|shift_jis|latin1|...\n"
                 "  Also: <file|folder|->... [--jsonl] [-j|--jobs N] [--no-progress] [--version]\n"
                 "  Convert: --to %s [-o PATH|--out-dir DIR] [--strip] [--shift MS]\n"
                 "    [--fps FROM:TO] [--canvas WxH] [--font NAME] [--font-scale F] [--opacity A]\n"
                 "    [--scroll-time S] [--fixed-time S] [--lanes F] [--danmaku-overlap]\n",
                 prog, tool::target_names("|", "|").c_str());
}

cuekit::Format format_from_name(const char* name) {
    const int id = sub_format_from_name(name);
    // An unknown name silently means automatic.
    return static_cast<cuekit::Format>(id == SUB_FORMAT_UNKNOWN ? SUB_FORMAT_AUTO : id);
}

// The largest job count -j accepts.
constexpr unsigned kMaxJobs = 1024;


// An option that takes the next argument. `apply` returns an error message, or nullptr.
struct ValueOption {
    std::string_view name;
    const char* (*apply)(Options& o, const char* value);
};

const char* set_jobs(Options& o, const char* value) {
    const std::string_view v(value);
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc{} || end != v.data() + v.size() || n == 0 || n > kMaxJobs) return "the job count must be a number from 1 to 1024";
    o.jobs = n;
    return nullptr;
}

constexpr auto kValueOptions = std::to_array<ValueOption>({
    {"--format", [](Options& o, const char* v) -> const char* { o.format = format_from_name(v); return nullptr; }},
    {"--encoding", [](Options& o, const char* v) -> const char* { o.encoding = v; return nullptr; }},
    {"-j", set_jobs},
    {"--jobs", set_jobs},
});

// Reads the arguments left to right. Returns the exit code when the run ends here (help,
// version, a bad argument), or -1 to go on.
int parse_args(int argc, char** argv, const char* prog, Options& o) {
    bool options = true; // until "--"
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (!options || a == "--") {
            if (options) options = false;
            else o.paths.push_back(a);
            continue;
        }
        const ValueOption* value_option = nullptr;
        for (const ValueOption& v : kValueOptions)
            if (v.name == a) value_option = &v;
        std::string bad;
        if (tool::read_convert_option(argc, argv, i, o.convert, bad)) {
            if (!bad.empty()) {
                std::fprintf(stderr, "%s\n", bad.c_str());
                return 2;
            }
        } else if (a == "--json") {
            o.emit.mode = Mode::Json;
        } else if (a == "--jsonl") {
            o.emit.mode = Mode::Jsonl;
        } else if (a == "--no-progress") {
            o.progress = false;
        } else if (value_option && i + 1 == argc) {
            std::fprintf(stderr, "%s: a value must follow\n", argv[i]);
            usage(prog);
            return 2;
        } else if (value_option) {
            if (const char* why = value_option->apply(o, argv[++i])) {
                std::fprintf(stderr, "%s %s: %s\n", argv[i - 1], argv[i], why);
                usage(prog);
                return 2;
            }
        } else if (a.starts_with("-j") && a.size() > 2) { // -jN, as make takes it
            if (const char* why = set_jobs(o, argv[i] + 2)) {
                std::fprintf(stderr, "%s: %s\n", argv[i], why);
                usage(prog);
                return 2;
            }
        } else if (a == "-h" || a == "--help") {
            usage(prog);
            return 0;
        } else if (a == "--version") {
            std::printf("cuekit %s\n", CUEKIT_VERSION_STRING);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "unknown arg %s\n", argv[i]);
            usage(prog);
            return 2;
        } else {
            o.paths.push_back(a);
        }
    }
    if (o.paths.empty()) {
        usage(prog);
        return 2;
    }
    if (const std::string bad = tool::check_convert(o.convert, o.paths.size()); !bad.empty()) {
        std::fprintf(stderr, "%s\n", bad.c_str());
        return 2;
    }
    if (o.convert.converts() && o.emit.mode == Mode::Jsonl) {
        std::fprintf(stderr, "--jsonl has no effect with --to (--to json writes one document a line)\n");
        return 2;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const char* prog = argv[0] ? argv[0] : "cuekit";
    try {
        Options o;
        if (const int code = parse_args(argc, argv, prog, o); code >= 0) return code;
        bool walked = false;
        std::vector<host::Input> inputs = host::collect_inputs(o.paths, walked);
        o.emit.prefix = o.paths.size() > 1 || walked;
        int code = 0;
        if (const std::string bad = tool::prepare_outputs(o.convert, inputs, code); !bad.empty()) {
            std::fprintf(stderr, "%s\n", bad.c_str());
            return code;
        }
        return tool::run_batch(o, std::move(inputs), o.jobs ? o.jobs : tool::processor_count());
    } catch (const std::bad_alloc&) {
        std::fputs("out of memory\n", stderr);
        return 1;
    }
}
