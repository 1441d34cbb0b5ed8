// cuekit.hpp from C++17: parses a file and walks the cues with the iterator's random access.
#include <cuekit.hpp>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

using Iterator = cuekit::Result::iterator;
static_assert(std::is_same_v<std::iterator_traits<Iterator>::iterator_category, std::random_access_iterator_tag>);

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const cuekit::Result r = cuekit::parse(bytes);
    if (!r || r.size() < 2) return 1;
    const std::vector<cuekit::CueRef> cues(r.begin(), r.end());
    const auto n = std::distance(r.begin(), r.end());
    Iterator last = r.end();
    --last;
    if (static_cast<std::size_t>(n) != cues.size() || last - r.begin() != n - 1 || !(r.begin() < last)) return 1;
    if (r.begin()[1].start_ms() != cues[1].start_ms() || (*std::prev(r.end())).end_ms() != cues.back().end_ms()) return 1;
    std::cout << r.format_name() << ", " << n << " cues\n";
    return 0;
}
