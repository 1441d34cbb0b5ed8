// Clock-style timestamps.
#include <cuekit.h>
#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* text;
    int loose;  // sub_parse_hms_ms(text, 0)
    int strict; // sub_parse_hms_ms(text, 1)
};

TEST(Timestamp, HmsForms) {
    const Case cases[] = {
        {"00:01:02,5", 62500, 62500},
        {"00:01:02,50", 62500, 62500},
        {"00:01:02,500", 62500, 62500},
        {"00:01:02,5009", 62500, 62500},
        {"00:01:02.123456", 62123, 62123},
        {"01:02", 62000, -1},
        {"01:02,5", 62500, 62500},
        {"01:02.", 62000, 62000},
        {"00:00:01.", 1000, 1000},
        {"x 00:00:01,000", 1000, 1000},
        {"-00:00:01,000", 1000, 1000},
        {"1:2:3", 3723000, -1},
        {"00:75:99", 4599000, -1},
        {"01:02:03:04", 3723000, -1},
        {"01:02 ", 62000, -1},
        {"00:00:01,000 and more", 1000, 1000},
        {"01:02:", -1, -1},
        {"12", -1, -1},
        {"12:", -1, -1},
        {"", -1, -1},
        {"abc", -1, -1},
        {"1.5s", -1, -1},
        {"10s", -1, -1},
        // Values beyond a signed 32-bit millisecond count are invalid, never wrapped.
        {"596:31:23,647", 2147483647, 2147483647},
        {"596:31:23,648", -1, -1},
        {"99999999999:00:00,000", -1, -1},
        {"0:0:99999999999999999999", -1, -1},
        {"35791394:08", -1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sub_parse_hms_ms(c.text, 0), c.loose) << c.text;
        EXPECT_EQ(sub_parse_hms_ms(c.text, 1), c.strict) << c.text;
        EXPECT_EQ(sub_parse_subviewer_time(c.text), c.strict) << c.text;
    }
    EXPECT_EQ(sub_parse_hms_ms(nullptr, 0), -1);
}

TEST(Timestamp, SsaForms) {
    const std::pair<const char*, int> cases[] = {
        {"0:00:01.00", 1000},
        {"0:00:01.5", 1500},
        {"0:00:01.50", 1500},
        {"0:00:01,25", 1250},
        {"0:00:01.5009", 1500},
        {"0:00:01.12345", 1123},
        {"0:00:01.", 1000},
        {"  \t1:02:03.04", 3723040},
        {" x1:02:03.04", -1},
        {"-0:00:01.00", -1},
        {"1:02:03", 3723000},
        {"1:02", -1},
        {"1:2:3.4", 3723400},
        {"01:02:03:04", 3723000},
        {"0:00:01.00,0:00:02.00", 1000},
        {"596:31:23.647", 2147483647},
        {"597:00:00.00", -1},
        {"", -1},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(sub_parse_ssa_time(text), want) << text;
}

} // namespace
