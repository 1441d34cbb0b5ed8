// Clock-style timestamps.
#include <cuekit.h>
#include <gtest/gtest.h>

#include <random>
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

// Stamps of the usual fixed shape are read by position: a leading blank sends the same stamp
// down the general reading, which must agree, near the shape and far from it.
TEST(Timestamp, SsaFixedShapeAgreesWithGeneralReading) {
    const std::string shapes[] = {"0:00:00.00", "9:59:59.99", "1:23:45.678", "1:23:45.6789", "1:23:45.67x",
                                  "1:23:45,67", "1:99:99.99", "12:34:56.78", "1:23:45.6", "1:23:45:67",
                                  "1:23:45.6:", "1:2a:45.67", "1:23:45..67", "1;23:45.67", "1:23:45.67 ,"};
    const auto agree = [](const std::string& s) {
        EXPECT_EQ(sub_parse_ssa_time(s.c_str()), sub_parse_ssa_time((" " + s).c_str())) << s;
    };
    for (const auto& s : shapes) agree(s);
    std::mt19937 rng(7);
    const std::string shape = "D:DD:DD.DDD";
    const std::string pool = "0123456789:.,x ";
    for (int n = 0; n < 20000; ++n) {
        std::string s;
        for (const char c : shape) s += c == 'D' ? static_cast<char>('0' + rng() % 10) : c;
        s.resize(8 + rng() % 4);
        s[rng() % s.size()] = pool[rng() % pool.size()]; // one byte anywhere is anything
        agree(s);
    }
    EXPECT_EQ(sub_parse_ssa_time("1:23:45.67"), 5025670);
    EXPECT_EQ(sub_parse_ssa_time("1:23:45.678"), 5025678);
}

} // namespace
