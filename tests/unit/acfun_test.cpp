// AcFun danmaku: comment objects anywhere in a JSON document, to a bounded depth.
#include "danmaku_test_util.hpp"
#include "core/core.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace cuekit_test;

namespace {

constexpr unsigned kWhite = 0xFFFFFF;

int parse_ac(const std::string& text) {
    sub_clear();
    return sub_parse_acfun(text.c_str(), text.size());
}

std::string obj(const std::string& c, const std::string& m = "x") {
    return "{\"c\":\"" + c + "\",\"m\":\"" + m + "\"}";
}

std::string nest(int arrays, const std::string& inner) {
    return std::string(static_cast<size_t>(arrays), '[') + inner + std::string(static_cast<size_t>(arrays), ']');
}

struct CCase {
    std::string c;
    Danmu want;
};

TEST(Acfun, CList) {
    const std::string crossing = "5,123," + std::string(505, '0') + "67"; // mode cut at byte 511
    const CCase cases[] = {
        {"1.5,16777215,1,25,42,77", {1500, 4500, 1, kWhite, 25.0f, {"x"}}},
        {"12.345", {12345, 15345, 1, kWhite, 25.0f, {"x"}}},
        {"2,255,5,36", {2000, 5000, 5, 255, 36.0f, {"x"}}},           // time, colour, mode, size
        {"2,,5", {2000, 5000, 1, 5, 25.0f, {"x"}}},                    // empty field shifts
        {",,2,,,255,,", {2000, 5000, 1, 255, 25.0f, {"x"}}},
        {"-3,255", {0, 3000, 1, 255, 25.0f, {"x"}}},                   // clamped to 0
        {"1.001", {1000, 4000, 1, kWhite, 25.0f, {"x"}}},
        {"1.005", {1004, 4004, 1, kWhite, 25.0f, {"x"}}},              // double product, truncated
        {"1,16777216", {1000, 4000, 1, 0, 25.0f, {"x"}}},
        {"1,99999999999999", {1000, 4000, 1, kWhite, 25.0f, {"x"}}},    // colour saturates
        {"abc,def,ghi,jkl", {0, 3000, 0, 0, 0.0f, {"x"}}},
        {"nan,1,1,nan", {0, 3000, 1, 1, 25.0f, {"x"}}},
        {"inf,1,1,inf", {INT_MAX, INT_MAX, 1, 1, 25.0f, {"x"}}},
        {"-inf", {0, 3000, 1, kWhite, 25.0f, {"x"}}},
        {"1e300,1,1,1e39", {INT_MAX, INT_MAX, 1, 1, 25.0f, {"x"}}},
        {"2147482", {2147482000, INT_MAX, 1, kWhite, 25.0f, {"x"}}},   // end saturates
        {crossing, {5000, 8000, 0, 123, 25.0f, {"x"}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(parse_ac("[" + obj(c.c) + "]"), 0) << c.c;
        EXPECT_EQ(sub_detected_format(), SUB_FORMAT_ACFUN) << c.c;
        EXPECT_EQ(danmus(), std::vector<Danmu>{c.want}) << c.c;
    }
}

TEST(Acfun, OnlyTheFirst511BytesAreSplit) {
    // 700 bytes: the colour token starts inside the first 511 bytes, the mode after them.
    const std::string c = "3," + std::string(506, '0') + "1234,5,36" + std::string(183, ',');
    ASSERT_EQ(c.size(), 700u);
    ASSERT_EQ(parse_ac("[" + obj(c) + "]"), 0);
    EXPECT_EQ(danmus(), (std::vector<Danmu>{{3000, 6000, 1, 123, 25.0f, {"x"}}}));
}

TEST(Acfun, MessageIsKeptAsTheJsonStringHoldsIt) {
    const struct {
        const char* m;
        std::vector<std::string> want;
    } cases[] = {
        // A line break in a comment separates lines; a comment of nothing else stays empty.
        {"two\\nlines", {"two", "lines"}},
        {" two \\r\\n\\r\\n lines ", {"two", "lines"}},
        {"\\n \\r", {""}},
        {"", {""}},
        {"  <b>&amp;</b>  ", {"  <b>&amp;</b>  "}},
        {"\\ud83d\\ude00 \\u00e9", {"\xF0\x9F\x98\x80 \xC3\xA9"}},
        {"a\\u0000b", {"a"}}, // a C string ends at its zero byte
    };
    for (const auto& c : cases) {
        ASSERT_EQ(parse_ac("[" + obj("1", c.m) + "]"), 0) << c.m;
        EXPECT_EQ(cues(), (std::vector<Cue>{{1000, 4000, c.want}})) << c.m;
    }
}

struct DocCase {
    const char* name;
    std::string json;
    std::vector<int> starts; // cue start times in seconds, in order
};

TEST(Acfun, WhichObjectsCount) {
    const DocCase cases[] = {
        {"root object with an array member", "{\"list\":[" + obj("1") + "," + obj("2") + "]}", {1, 2}},
        {"root object is a comment and holds more", "{\"c\":\"1\",\"m\":\"a\",\"more\":[" + obj("2") + "," + obj("3") + "]}",
         {1, 2, 3}},
        {"array element comment is not looked into", "[{\"c\":\"1\",\"m\":\"a\",\"more\":[" + obj("2") + "]}]", {1}},
        {"array element that is no comment is looked into", "[{\"c\":1,\"m\":\"a\",\"more\":[" + obj("2") + "]}]", {2}},
        {"member value comment is looked into", "{\"a\":{\"c\":\"1\",\"m\":\"a\",\"b\":" + obj("2") + "}}", {1, 2}},
        {"depth-first document order", "[[" + obj("3") + "]," + obj("1") + ",{\"x\":[" + obj("2") + "]}]", {3, 1, 2}},
        {"first duplicate key", "[{\"c\":\"1\",\"c\":\"2\",\"m\":\"a\",\"m\":\"b\"}]", {1}},
        {"duplicate key, first not a string", "[{\"c\":1,\"c\":\"2\",\"m\":\"a\"}]", {}},
        {"c as a number", "[{\"c\":1.5,\"m\":\"a\"}]", {}},
        {"m as a number", "[{\"c\":\"1.5\",\"m\":5}]", {}},
        {"key in capitals", "[{\"C\":\"1.5\",\"m\":\"a\"}]", {}},
        {"longer key", "[{\"cc\":\"1.5\",\"c \":\"2\",\"m\":\"a\"}]", {}},
        {"escaped key", "[{\"\\u0063\":\"4\",\"m\":\"a\"}]", {4}},
        {"empty c", "[" + obj("") + "]", {}},
        {"only commas", "[" + obj(",,,") + "]", {}},
        {"c cut at its zero byte", "[" + obj("\\u00005") + "]", {}},
        {"missing m", "[{\"c\":\"1\"}]", {}},
        {"scalars and empty containers", "[1,\"c\",null,true,{},[],[[]]," + obj("7") + "]", {7}},
        {"scalar root", "\"c\"", {}},
        {"empty array", "[]", {}},
    };
    for (const auto& c : cases) {
        const int rc = parse_ac(c.json);
        EXPECT_EQ(rc, c.starts.empty() ? 5 : 0) << c.name;
        std::vector<int> got;
        for (const Cue& cue : cues()) got.push_back(cue.start / 1000);
        EXPECT_EQ(got, c.starts) << c.name;
        if (rc != 0) {
            EXPECT_STREQ(sub_last_error(), "no Acfun danmaku") << c.name;
        }
    }
}

TEST(Acfun, DepthLimit) {
    EXPECT_EQ(parse_ac(nest(5, obj("1"))), 0);  // root array and four more
    EXPECT_EQ(parse_ac(nest(6, obj("1"))), 5);
    // Objects reached as member values are tried while their own depth is at most 4.
    auto members = [](int levels) {
        std::string s = obj("1");
        for (int i = 0; i < levels; ++i) s = "{\"k\":" + s + "}";
        return s;
    };
    EXPECT_EQ(parse_ac(members(4)), 0);
    EXPECT_EQ(parse_ac(members(5)), 5);
    // A document nested far deeper than the limit is read and walked without harm.
    EXPECT_EQ(parse_ac(nest(100000, "") ), 5);
    EXPECT_STREQ(sub_last_error(), "no Acfun danmaku");
}

TEST(Acfun, InvalidJson) {
    const std::string cases[] = {
        "",
        "[" + obj("1") + ",]",
        "// comment\n[" + obj("1") + "]",
        "[" + obj("1") + "] /* trailing */",
        "[" + obj("1") + "] x",
        "[{\"c\":\"1\",\"m\":\"a\",\"n\":NaN}]",
        "[{'c':'1','m':'a'}]",
        "[{\"c\":\"1\",\"m\":\"\xFF\"}]",       // invalid UTF-8
        "[" + obj("1") + std::string("]\0", 2), // the whole length counts, a zero byte included
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_ac(c), 5) << c;
        EXPECT_STREQ(sub_last_error(), "Acfun: invalid JSON") << c;
        EXPECT_EQ(sub_cue_count(), 0) << c;
    }
}

TEST(Acfun, ThroughTheDriver) {
    const std::string text = "[" + obj("2.5,255,4,18", "hi") + "]";
    ASSERT_EQ(parse(text, SUB_FORMAT_AUTO), 0);
    EXPECT_EQ(sub_detected_format(), SUB_FORMAT_ACFUN);
    EXPECT_EQ(danmus(), (std::vector<Danmu>{{2500, 5500, 4, 255, 18.0f, {"hi"}}}));
    ASSERT_EQ(parse(text, SUB_FORMAT_ACFUN), 0);
    EXPECT_EQ(sub_cue_count(), 1);
    sub_clear();
}

} // namespace
