// Format detection from content and file name.
#include "core/core.hpp"

#include <cuekit.h>
#include <gtest/gtest.h>

#include <string>

namespace {

int detect(const std::string& s, const char* name = nullptr) { return sub_detect_format(s.data(), s.size(), name); }

TEST(Detect, Content) {
    const std::pair<std::string, int> cases[] = {
        {"\n\n WEBVTT\n\n00:01.000 --> 00:02.000\nx", SUB_FORMAT_VTT},
        {"webvtt\n\n00:01.000 --> 00:02.000\nx", SUB_FORMAT_SRT},
        // A file that begins with a SubRip block is SubRip, whatever its text quotes.
        {"1\n00:00:01,000 --> 00:00:02,000\nsee [events] here\n", SUB_FORMAT_SRT},
        {"00:00:01,000 --> 00:00:02,000\n<SAMI> xmlns=\"http://www.w3.org/ns/ttml\"\n", SUB_FORMAT_SRT},
        {"<?xml version=\"1.0\"?>\n<!-- x --><tt xmlns=\"\"><body><p begin=\"1s\">[Script Info]", SUB_FORMAT_TTML},
        {"[00:01.00]about ttml <d p=\"1\">\n", SUB_FORMAT_LRC},
        {"see [events] here\n00:00:01,000 --> 00:00:02,000\n", SUB_FORMAT_ASS},
        {"[Script Info]\nTitle: x\n", SUB_FORMAT_ASS},
        {"\r\n[INFORMATION]\n", SUB_FORMAT_SUBVIEWER},
        {"x[INFORMATION]\n", SUB_FORMAT_AUTO},
        {"[information]\n", SUB_FORMAT_AUTO},
        {"<SAMI><BODY><SYNC Start=0>", SUB_FORMAT_SAMI},
        {"<html><sync start=0>", SUB_FORMAT_SAMI},
        {"<i><SyNc x", SUB_FORMAT_SAMI},
        {"<i><d p=\"1,1,25,1\">x</d>", SUB_FORMAT_BILIBILI},
        {"<i><d p =\"1\">x</d>", SUB_FORMAT_BILIBILI},
        {"1\nabout TTML\n00:00:01,000 --> 00:00:02,000\n", SUB_FORMAT_TTML},
        {"<P BEGIN=\"1s\">", SUB_FORMAT_TTML},
        // Any prefix on the tt element, without the namespace text to give it away.
        {"<?xml version=\"1.0\"?>\n<tt:tt\n xmlns:tt=\"urn:x\"><tt:body><tt:p begin=\"1s\">", SUB_FORMAT_TTML},
        {"<ebu:TT>", SUB_FORMAT_TTML},
        {"<tt:ttx><tt:tt/>", SUB_FORMAT_AUTO},
        // YouTube's newer form: the root decides, whatever the document holds.
        {"<?xml version=\"1.0\" encoding=\"utf-8\" ?><timedtext format=\"3\">\n<body><p t=\"0\" d=\"1\">x</p>",
         SUB_FORMAT_YTXML},
        {"<timedtext format=\"2\"><body><p t=\"0\" d=\"1\">x</p>", SUB_FORMAT_AUTO},
        {"<transcript><text start=\"1\" dur=\"2\">x</text>", SUB_FORMAT_YTXML},
        {"<text start=\"1\">x</text>", SUB_FORMAT_AUTO},
        {"[00:12.00]Hello", SUB_FORMAT_LRC},
        {"[ar:Someone]\n[00:01.00]la", SUB_FORMAT_LRC},
        {"[ti:Song]", SUB_FORMAT_LRC},
        {"{1}{50}Hello", SUB_FORMAT_MICRODVD},
        {"{-}{x}", SUB_FORMAT_MICRODVD},
        {"[1][50]Hello", SUB_FORMAT_AUTO},
        {"[{\"c\":\"1,2\",\"m\":\"a -> b\"}]", SUB_FORMAT_ACFUN},
        {"{\"list\":[{\"c\":\"1\",\"m\":\"x\"}]}", SUB_FORMAT_ACFUN},
        {"hello -> world", SUB_FORMAT_SRT},
        {"a - > b", SUB_FORMAT_SRT},
        {"nothing to see", SUB_FORMAT_AUTO},
        {"   \n\t ", SUB_FORMAT_AUTO},
        {std::string("\xFF\xFE" "1\0\n\0", 6), -1},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(detect(text), want) << text;
}

TEST(Detect, SampleLimitAndByteOrderMark) {
    const std::string far = std::string(9000, 'x') + " --> ";
    EXPECT_EQ(detect(far), SUB_FORMAT_AUTO);
    EXPECT_EQ(detect("\xEF\xBB\xBF" + far), SUB_FORMAT_SRT);
    EXPECT_EQ(detect(std::string("ab\0 -->", 7)), SUB_FORMAT_AUTO); // a NUL ends the sample
}

TEST(Detect, ExtensionIsTheLastResort) {
    const std::pair<const char*, int> cases[] = {
        {"movie.SRT", SUB_FORMAT_SRT}, {"a.vtt", SUB_FORMAT_VTT},        {"a.webvtt", SUB_FORMAT_VTT},
        {"a.ass", SUB_FORMAT_ASS},     {"a.SSA", SUB_FORMAT_ASS},        {"a.sub", SUB_FORMAT_MICRODVD},
        {"a.ttml", SUB_FORMAT_TTML},   {"a.dfxp", SUB_FORMAT_TTML},      {"a.xml", SUB_FORMAT_YTXML},
        {"a.lrc", SUB_FORMAT_LRC},     {"a.smi", SUB_FORMAT_SAMI},       {"a.sami", SUB_FORMAT_SAMI},
        {"a.json", SUB_FORMAT_ACFUN},  {"a.b/c", SUB_FORMAT_AUTO},       {"noext", SUB_FORMAT_AUTO},
        {"a.txt", SUB_FORMAT_AUTO},    {"a.srt.bak", SUB_FORMAT_AUTO},
    };
    for (const auto& [name, want] : cases) {
        EXPECT_EQ(cuekit::ext_hint(name), want) << name;
        EXPECT_EQ(detect("plain words", name), want) << name;
    }
    EXPECT_EQ(cuekit::ext_hint(nullptr), SUB_FORMAT_AUTO);
    EXPECT_EQ(sub_detect_format(nullptr, 0, "x.srt"), SUB_FORMAT_SRT);
    EXPECT_EQ(sub_detect_format(nullptr, 5, "x.srt"), SUB_FORMAT_AUTO);
    EXPECT_EQ(detect("", "x.lrc"), SUB_FORMAT_LRC);
    // Content wins over the name.
    EXPECT_EQ(detect("{1}{2}x", "a.srt"), SUB_FORMAT_MICRODVD);
}

TEST(FormatNames, FromNameIsTheInverseOfTheNameWithAliases) {
    for (int id = 0; id < SUB_FORMAT_COUNT; ++id) EXPECT_EQ(sub_format_from_name(sub_format_name(id)), id);
    const std::pair<const char*, int> cases[] = {
        {"auto", SUB_FORMAT_AUTO}, {"ssa", SUB_FORMAT_ASS},     {"smi", SUB_FORMAT_SAMI},
        {"SRT", SUB_FORMAT_UNKNOWN}, {"unknown", SUB_FORMAT_UNKNOWN}, {"", SUB_FORMAT_UNKNOWN},
        {"srt ", SUB_FORMAT_UNKNOWN}, {nullptr, SUB_FORMAT_UNKNOWN},
    };
    for (const auto& [name, want] : cases) EXPECT_EQ(sub_format_from_name(name), want) << (name ? name : "(null)");
}

} // namespace
