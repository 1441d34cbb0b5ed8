// The Bilibili peer of scripts/bench.sh: what a user would write with a generic XML DOM instead
// of cuekit. Loads the file into a DOM, walks the `d` elements of the root and turns each into
// a comment (time, mode, size, colour from the `p` list, and the decoded text), then prints the
// count of comments.
#include <pugixml.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Comment {
    int32_t start_ms;
    int32_t end_ms;
    int mode;
    float size;
    uint32_t color;
    std::string text;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: cuekit_peer_pugixml FILE\n", stderr);
        return 2;
    }
    pugi::xml_document doc;
    if (!doc.load_file(argv[1])) return 1;
    std::vector<Comment> comments;
    for (const pugi::xml_node d : doc.document_element().children("d")) {
        const char* p = d.attribute("p").value();
        // time,mode,size,colour,...
        char* end = nullptr;
        const double seconds = std::strtod(p, &end);
        const int mode = *end == ',' ? static_cast<int>(std::strtol(end + 1, &end, 10)) : 1;
        const float size = *end == ',' ? std::strtof(end + 1, &end) : 25.0f;
        const uint32_t color = *end == ',' ? static_cast<uint32_t>(std::strtoul(end + 1, &end, 10)) : 0xFFFFFF;
        const auto start = static_cast<int32_t>(seconds * 1000);
        comments.push_back({start, start + 3000, mode, size, color & 0xFFFFFF, d.child_value()});
    }
    std::printf("%zu\n", comments.size());
    return comments.empty() ? 1 : 0;
}
