// The AcFun peer of scripts/bench.sh: what a user would write with a generic JSON DOM instead
// of cuekit. Loads the file into a DOM, walks it for objects with the string members "c"
// (time,colour,mode,size,...) and "m" (the text), turns each into a comment, then prints the
// count of comments.
#include <simdjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Comment {
    int32_t start_ms;
    int32_t end_ms;
    uint32_t color;
    int mode;
    float size;
    std::string text;
};

void walk(simdjson::dom::element e, std::vector<Comment>& out, int depth) {
    if (depth > 5) return;
    simdjson::dom::array arr;
    if (e.get(arr) == simdjson::SUCCESS) {
        for (const simdjson::dom::element child : arr) walk(child, out, depth + 1);
        return;
    }
    simdjson::dom::object obj;
    if (e.get(obj) != simdjson::SUCCESS) return;
    std::string_view c;
    std::string_view m;
    if (obj["c"].get(c) == simdjson::SUCCESS && obj["m"].get(m) == simdjson::SUCCESS) {
        // time,colour,mode,size,...
        const std::string list(c);
        char* end = nullptr;
        const double seconds = std::strtod(list.c_str(), &end);
        const auto color = *end == ',' ? static_cast<uint32_t>(std::strtoul(end + 1, &end, 10)) : 0xFFFFFFu;
        const int mode = *end == ',' ? static_cast<int>(std::strtol(end + 1, &end, 10)) : 1;
        const float size = *end == ',' ? std::strtof(end + 1, &end) : 25.0f;
        const auto start = static_cast<int32_t>(seconds * 1000);
        out.push_back({start, start + 3000, color & 0xFFFFFF, mode, size, std::string(m)});
        return;
    }
    for (const auto field : obj) walk(field.value, out, depth + 1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: cuekit_peer_simdjson FILE\n", stderr);
        return 2;
    }
    simdjson::padded_string json;
    if (simdjson::padded_string::load(argv[1]).get(json) != simdjson::SUCCESS) return 1;
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(json).get(root) != simdjson::SUCCESS) return 1;
    std::vector<Comment> comments;
    walk(root, comments, 0);
    std::printf("%zu\n", comments.size());
    return comments.empty() ? 1 : 0;
}
