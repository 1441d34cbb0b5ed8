// Character references of markup text, decoded in place in one left-to-right pass.
#include "text/text.hpp"

#include <cstring>

namespace cuekit {
namespace {

struct NamedEntity {
    std::string_view name;
    char ch;
};
constexpr std::array<NamedEntity, 7> kNamed{{
    {"&nbsp;", ' '},
    {"&NBSP;", ' '},
    {"&amp;", '&'},
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&quot;", '"'},
    {"&apos;", '\''},
}};

} // namespace

int hex_value(unsigned char c) {
    if (is_digit(c)) return c - '0';
    c = fold(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

size_t html_decode(char* s, size_t n) {
    if (!s) return 0;
    const void* nul = std::memchr(s, '\0', n);
    if (nul) n = static_cast<size_t>(static_cast<const char*>(nul) - s);
    size_t r = 0, w = 0;
    while (r < n) {
        // Copy plain runs in one step; only an ampersand needs a closer look.
        const void* amp = std::memchr(s + r, '&', n - r);
        const size_t stop = amp ? static_cast<size_t>(static_cast<const char*>(amp) - s) : n;
        if (w != r) std::memmove(s + w, s + r, stop - r);
        w += stop - r;
        r = stop;
        if (r >= n) break;

        const std::string_view rest(s + r, n - r);
        bool done = false;
        for (const auto& e : kNamed) {
            if (rest.starts_with(e.name)) {
                s[w++] = e.ch;
                r += e.name.size();
                done = true;
                break;
            }
        }
        if (done) continue;

        if (rest.size() >= 2 && rest[1] == '#') {
            size_t i = 2;
            const bool hex = rest.size() > 2 && (rest[2] == 'x' || rest[2] == 'X');
            if (hex) i = 3;
            uint64_t v = 0;
            for (; i < rest.size(); ++i) {
                const int d = hex ? hex_value(static_cast<unsigned char>(rest[i]))
                                  : (is_digit(static_cast<unsigned char>(rest[i])) ? rest[i] - '0' : -1);
                if (d < 0) break;
                v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
                if (v > 0x10FFFF) v = 0x110000; // stays out of range, never wraps
            }
            if (i < rest.size() && rest[i] == ';') {
                // The reference is never shorter than its output, so writing stays behind reading.
                w += encode_utf8(static_cast<uint32_t>(v), s + w);
                r += i + 1;
                continue;
            }
        }
        s[w++] = '&';
        ++r;
    }
    return w;
}

} // namespace cuekit
