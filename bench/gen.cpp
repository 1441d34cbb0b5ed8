// cuekit_gen: writes one generated benchmark file.
//   cuekit_gen SHAPE SIZE OUT   SIZE in bytes, or with a K, M or G suffix (binary units);
//                               OUT "-" writes to the standard output
//   cuekit_gen --list           one line per shape: name, extension, format identifier
//   cuekit_gen corpus DIR N     writes the first N files of the batch corpus under DIR
#include "generator.hpp"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

void usage() {
    std::fputs("Usage: cuekit_gen SHAPE SIZE OUT | cuekit_gen --list | cuekit_gen corpus DIR N\n  SHAPE:", stderr);
    for (const auto& s : cuekit::bench::shapes()) std::fprintf(stderr, " %.*s", static_cast<int>(s.name.size()), s.name.data());
    std::fputs("\n  SIZE: bytes, or a number followed by K, M or G\n", stderr);
}

bool parse_size(std::string_view s, size_t& out) {
    unsigned long long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end == s.data()) return false;
    std::string_view suffix(end, static_cast<size_t>(s.data() + s.size() - end));
    unsigned shift = 0;
    if (suffix == "K" || suffix == "k") shift = 10;
    else if (suffix == "M" || suffix == "m") shift = 20;
    else if (suffix == "G" || suffix == "g") shift = 30;
    else if (!suffix.empty()) return false;
    if (v > (~0ULL >> (shift + 1))) return false;
    out = static_cast<size_t>(v << shift);
    return true;
}

bool write_file(const char* path, std::string_view data) {
    std::FILE* f = std::string_view(path) == "-" ? stdout : std::fopen(path, "wb");
    if (!f) {
        std::perror(path);
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f != stdout) ok = (std::fclose(f) == 0) && ok;
    else ok = (std::fflush(f) == 0) && ok;
    if (!ok) std::perror(path);
    return ok;
}

int write_corpus(const std::filesystem::path& dir, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const cuekit::bench::CorpusFile file = cuekit::bench::corpus_file(i);
        const std::filesystem::path path = dir / file.path;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", path.parent_path().c_str(), ec.message().c_str());
            return 1;
        }
        if (!write_file(path.c_str(), file.bytes)) return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        for (const auto& s : cuekit::bench::shapes())
            std::printf("%.*s %.*s %d\n", static_cast<int>(s.name.size()), s.name.data(),
                        static_cast<int>(s.extension.size()), s.extension.data(), s.format);
        return 0;
    }
    size_t size = 0;
    if (argc == 4 && std::string_view(argv[1]) == "corpus") {
        if (!parse_size(argv[3], size)) {
            usage();
            return 2;
        }
        return write_corpus(argv[2], size);
    }
    if (argc != 4 || !cuekit::bench::find_shape(argv[1]) || !parse_size(argv[2], size)) {
        usage();
        return 2;
    }
    return write_file(argv[3], cuekit::bench::generate(argv[1], size)) ? 0 : 1;
}
