// Format detection from content and file name.
#include "internal.hpp"

#include <cuekit.h>
#include <gtest/gtest.h>

#include <string>

namespace {

int detect(const std::string& s, const char* name = nullptr) { return sub_detect_format(s.data(), s.size(), name); }

TEST(Detect, Content) {
    const std::pair<std::string, int> cases[] = {
        {"\n\n WEBVTT\n\n00:01.000 --> 00:02.000\nx", 1},
        {"webvtt\n\n00:01.000 --> 00:02.000\nx", 0},
        {"1\n00:00:01,000 --> 00:00:02,000\nsee [events] here\n", 2},
        {"[Script Info]\nTitle: x\n", 2},
        {"\r\n[INFORMATION]\n", 4},
        {"x[INFORMATION]\n", -1},
        {"[information]\n", -1},
        {"<SAMI><BODY><SYNC Start=0>", 8},
        {"<html><sync start=0>", 8},
        {"<i><SyNc x", 8},
        {"<i><d p=\"1,1,25,1\">x</d>", 9},
        {"<i><d p =\"1\">x</d>", 9},
        {"1\n00:00:01,000 --> 00:00:02,000\nabout TTML\n", 5},
        {"<P BEGIN=\"1s\">", 5},
        {"<transcript><text start=\"1\" dur=\"2\">x</text>", 6},
        {"<text start=\"1\">x</text>", -1},
        {"[00:12.00]Hello", 7},
        {"[ar:Someone]\n[00:01.00]la", 7},
        {"[ti:Song]", 7},
        {"{1}{50}Hello", 3},
        {"{-}{x}", 3},
        {"[1][50]Hello", -1},
        {"[{\"c\":\"1,2\",\"m\":\"a -> b\"}]", 10},
        {"{\"list\":[{\"c\":\"1\",\"m\":\"x\"}]}", 10},
        {"hello -> world", 0},
        {"a - > b", 0},
        {"nothing to see", -1},
        {"   \n\t ", -1},
        {std::string("\xFF\xFE" "1\0\n\0", 6), -1},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(detect(text), want) << text;
}

TEST(Detect, SampleLimitAndByteOrderMark) {
    const std::string far = std::string(9000, 'x') + " --> ";
    EXPECT_EQ(detect(far), -1);
    EXPECT_EQ(detect("\xEF\xBB\xBF" + far), 0);
    EXPECT_EQ(detect(std::string("ab\0 -->", 7)), -1); // a NUL ends the sample
}

TEST(Detect, ExtensionIsTheLastResort) {
    const std::pair<const char*, int> cases[] = {
        {"movie.SRT", 0}, {"a.vtt", 1}, {"a.webvtt", 1}, {"a.ass", 2}, {"a.SSA", 2}, {"a.sub", 3},
        {"a.ttml", 5},    {"a.dfxp", 5}, {"a.xml", 6},   {"a.lrc", 7}, {"a.smi", 8},  {"a.sami", 8},
        {"a.json", 10},   {"a.b/c", -1}, {"noext", -1},  {"a.txt", -1}, {"a.srt.bak", -1},
    };
    for (const auto& [name, want] : cases) {
        EXPECT_EQ(cuekit::ext_hint(name), want) << name;
        EXPECT_EQ(detect("plain words", name), want) << name;
    }
    EXPECT_EQ(cuekit::ext_hint(nullptr), -1);
    EXPECT_EQ(sub_detect_format(nullptr, 0, "x.srt"), 0);
    EXPECT_EQ(sub_detect_format(nullptr, 5, "x.srt"), -1);
    EXPECT_EQ(detect("", "x.lrc"), 7);
    // Content wins over the name.
    EXPECT_EQ(detect("{1}{2}x", "a.srt"), 3);
}

} // namespace
