// Line-oriented parsers keep a line that is an unchanged slice of the input as a view of it,
// and copy only what they transform: a copy of unchanged text costs as much memory as the file.
#include <cuekit.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Line {
    std::string text;
    bool view; // points into the input
};

TEST(LineViews, UnchangedLinesPointIntoTheInput) {
    using cuekit::Format;
    struct Case {
        const char* name;
        Format format;
        std::string input;
        std::vector<Line> lines; // of every cue, in order
    };
    const Case cases[] = {
        {"lrc", Format::Lrc, "[00:02.00][00:01.00] sung \n[00:03.00]", {{"sung", true}, {"sung", true}, {"", false}}},
        {"lrc ending in an empty value", Format::Lrc, "[00:01.00]a\n[00:]", {{"", false}, {"a", true}}},
        {"subviewer joined lines", Format::SubViewer,
         "[INFORMATION]\n00:00:01.00,00:00:02.00\n one [br]two\n\n three[BR]\n",
         {{"one", true}, {"two", true}, {"three", true}}},
        {"microdvd codes at the ends", Format::MicroDvd, "{1}{2}{y:i}ab{c:$ff}|c{d}e|f{",
         {{"ab", true}, {"ce", false}, {"f{", true}}},
        {"sami", Format::Sami, "<SYNC Start=1><P Class=X>plain<br>a &amp; b\n<i>kept</i>\n<SYNC Start=9>",
         {{"plain", true}, {"a & b", false}, {"<i>kept</i>", true}}},
        {"sami after long removed markup", Format::Sami,
         "<SYNC Start=1><P Class=X><div style=\"" + std::string(80, 's') + "\">one</div>\n <b>two</b>\t\t&lt;3",
         {{"one", true}, {"<b>two</b> <3", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // In a block of exactly its size, so that a read past the end is an error under ASan.
        const std::unique_ptr<char[]> exact(new char[c.input.size()]);
        std::memcpy(exact.get(), c.input.data(), c.input.size());
        const std::string_view input(exact.get(), c.input.size());
        const cuekit::Result r = cuekit::parse_borrowed(input, c.format);
        ASSERT_TRUE(r.ok()) << r.error();
        std::vector<Line> got;
        for (const cuekit::CueRef cue : r)
            for (const std::string_view l : cue.lines())
                got.push_back({std::string(l), !l.empty() && l.data() >= input.data() &&
                                                   l.data() + l.size() <= input.data() + input.size()});
        ASSERT_EQ(got.size(), c.lines.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].text, c.lines[i].text) << i;
            EXPECT_EQ(got[i].view, c.lines[i].view) << i;
        }
    }
}

} // namespace
