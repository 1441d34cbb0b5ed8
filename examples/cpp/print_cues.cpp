// Reads a subtitle file, parses it with cuekit's C++ interface and prints its cues.
#include <cuekit.hpp>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " FILE\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << argv[1] << ": cannot open\n";
        return 1;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    const cuekit::Result result = cuekit::parse(bytes, cuekit::detect_format(bytes, argv[1]));
    if (!result) {
        std::cerr << "cannot parse " << argv[1] << " (" << result.code() << "): " << result.error() << '\n';
        return 1;
    }
    std::cout << result.format_name() << ", " << result.size() << " cues\n";
    for (const cuekit::CueRef cue : result) {
        std::cout << '[' << cue.start_ms() << " ms - " << cue.end_ms() << " ms]";
        for (const std::string_view line : cue.lines()) std::cout << ' ' << line;
        std::cout << '\n';
    }
    for (const std::string_view w : result.warnings()) std::cerr << "warning: " << w << '\n';
    return 0;
}
