// cuekit_gen: writes one generated benchmark file.
//   cuekit_gen SHAPE SIZE OUT   SIZE in bytes, or with a K, M or G suffix (binary units);
//                               OUT "-" writes to the standard output
//   cuekit_gen --list           one line per shape: name, extension, format identifier
#include "generator.hpp"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

void usage() {
    std::fputs("Usage: cuekit_gen SHAPE SIZE OUT | cuekit_gen --list\n  SHAPE:", stderr);
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

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        for (const auto& s : cuekit::bench::shapes())
            std::printf("%.*s %.*s %d\n", static_cast<int>(s.name.size()), s.name.data(),
                        static_cast<int>(s.extension.size()), s.extension.data(), s.format);
        return 0;
    }
    size_t size = 0;
    if (argc != 4 || !cuekit::bench::find_shape(argv[1]) || !parse_size(argv[2], size)) {
        usage();
        return 2;
    }
    const std::string data = cuekit::bench::generate(argv[1], size);
    std::string_view path = argv[3];
    std::FILE* f = path == "-" ? stdout : std::fopen(argv[3], "wb");
    if (!f) {
        std::perror(argv[3]);
        return 1;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f != stdout) ok = (std::fclose(f) == 0) && ok;
    else ok = (std::fflush(f) == 0) && ok;
    if (!ok) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
