// Helpers shared by the unit tests: parse a string, read the cues back through the C accessors.
#pragma once

#include <cuekit.h>
#include <gtest/gtest.h>

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

// sub_parse on a string.
inline int parse(std::string_view text, int format = SUB_FORMAT_AUTO, const char* encoding = nullptr) {
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

// One table row of a parser test: a text and the cues it must give (none: the parse fails).
struct ParserCase {
    const char* name;
    std::string text;
    std::vector<Cue> expected;
};
inline void PrintTo(const ParserCase& c, std::ostream* os) { *os << c.name; }

// Runs a parser on the row's text: with expected cues it must succeed as `format`, without any
// it must fail with `no_cues_error`.
template <typename Fn>
void check_parser_case(Fn fn, const ParserCase& c, int format, const char* no_cues_error) {
    const int rc = run_parser(fn, c.text);
    if (c.expected.empty()) {
        EXPECT_EQ(rc, 5);
        EXPECT_STREQ(sub_last_error(), no_cues_error);
    } else {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(sub_detected_format(), format);
    }
    EXPECT_EQ(cues(), c.expected);
}

} // namespace cuekit_test
