// Helpers shared by the unit tests: parse a string, read the cues back through the C accessors.
#pragma once

#include <cuekit.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace cuekit_test {

struct Cue {
    int start;
    int end;
    std::vector<std::string> lines;
    bool operator==(const Cue&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Cue& c) {
    os << "{" << c.start << ", " << c.end << ", [";
    for (size_t i = 0; i < c.lines.size(); ++i) os << (i ? ", " : "") << '"' << c.lines[i] << '"';
    return os << "]}";
}

// sub_parse on a string (format -1 is automatic).
inline int parse(std::string_view text, int format = -1, const char* encoding = nullptr) {
    return sub_parse(text.data(), text.size(), format, encoding);
}

// Every cue of the last parse, read through the accessors.
inline std::vector<Cue> cues() {
    std::vector<Cue> out;
    for (int i = 0; i < sub_cue_count(); ++i) {
        Cue c{sub_cue_start_ms(i), sub_cue_end_ms(i), {}};
        for (int j = 0; j < sub_cue_line_count(i); ++j) c.lines.emplace_back(sub_cue_line(i, j));
        out.push_back(std::move(c));
    }
    return out;
}

// The parser's own entry with the text as the decoder would hand it (NUL-terminated).
template <typename Fn>
int run_parser(Fn fn, const std::string& text) {
    sub_clear();
    return fn(text.c_str(), text.size());
}

} // namespace cuekit_test
