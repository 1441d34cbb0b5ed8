// AcFun danmaku: comment objects anywhere in a JSON document, to a bounded depth.
#include "danmaku_test_util.hpp"
#include "core/core.hpp"
#include "formats/danmaku.hpp"

#include <gtest/gtest.h>

#include <yyjson.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>

using namespace cuekit_test;
using cuekit::Store;

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
        {"own cue first when c and m follow what it holds", "{\"a\":[" + obj("2") + "],\"c\":\"1\",\"m\":\"x\"}",
         {1, 2}},
        {"element found a comment after what it holds", "[{\"a\":[" + obj("2") + "],\"c\":\"1\",\"m\":\"x\"}]", {1}},
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

// The reference for the streamed reader: the document read into a tree and walked, as a reader
// built on a general JSON library would do it.
namespace tree {

constexpr int kMaxDepth = 5;

std::string_view str_view(yyjson_val* v) { return {yyjson_get_str(v), yyjson_get_len(v)}; }

int add_from_obj(Store& st, yyjson_val* obj) {
    if (!yyjson_is_obj(obj) || yyjson_obj_size(obj) == 0) return 0;
    yyjson_val* c = yyjson_obj_get(obj, "c");
    yyjson_val* m = yyjson_obj_get(obj, "m");
    if (!yyjson_is_str(c) || !yyjson_is_str(m)) return 0;
    const cuekit::DanmakuTokens tok(str_view(c));
    if (tok.count() == 0) return 0;
    cuekit::DanmakuStyle style;
    const int32_t start_ms = std::max(cuekit::danmaku_time_ms(tok[0]), int32_t{0});
    if (tok[1]) style.color = cuekit::danmaku_color(tok[1]);
    if (tok[2]) style.mode = cuekit::danmaku_mode(tok[2]);
    if (tok[3]) style.fontsize = cuekit::danmaku_fontsize(tok[3], style.fontsize);
    return cuekit::add_danmaku(st, start_ms, style, str_view(m)) ? 1 : 0;
}

int walk(Store& st, yyjson_val* v, int depth) {
    if (!v || depth >= kMaxDepth) return 0;
    int n = 0;
    if (yyjson_is_arr(v)) {
        yyjson_arr_iter it = yyjson_arr_iter_with(v);
        while (yyjson_val* e = yyjson_arr_iter_next(&it)) {
            if (yyjson_is_obj(e)) n += add_from_obj(st, e) == 1 ? 1 : walk(st, e, depth + 1);
            else if (yyjson_is_arr(e)) n += walk(st, e, depth + 1);
        }
    } else if (yyjson_is_obj(v)) {
        n += add_from_obj(st, v);
        yyjson_obj_iter it = yyjson_obj_iter_with(v);
        while (yyjson_val* key = yyjson_obj_iter_next(&it)) {
            yyjson_val* member = yyjson_obj_iter_get_val(key);
            if (yyjson_is_ctn(member)) n += walk(st, member, depth + 1);
        }
    }
    return n;
}

// -1 for a document the library refuses, else the count of comments.
int parse(Store& st, const std::string& text) {
    yyjson_doc* doc = yyjson_read(text.data(), text.size(), 0);
    if (!doc) return -1;
    const int n = walk(st, yyjson_doc_get_root(doc), 0);
    yyjson_doc_free(doc);
    return n;
}

} // namespace tree

// Documents of the shape the comment search cares about, nested a little beyond its depth,
// with the strings, numbers and escapes where strict readers differ.
std::string random_value(std::mt19937& rng, int depth) {
    static const char* const keys[] = {"c", "m", "c", "m", "\\u0063", "\\u006d", "x", "c\\u0000", "C", ""};
    static const char* const strings[] = {"1.5,255,1,25", "2", ",,3,,7", "4,1", "hi", "a\\nb", "\\ud83d\\ude00",
                                          "", "\\u00e9\\/\\\"", "\xE4\xB8\xAD", "tab", "9,1,\\u0031"};
    static const char* const bad_strings[] = {"\\ud83d", "\\ude00x", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                              "\\x", "tab\there"};
    static const char* const scalars[] = {"0", "-0", "1.5e3", "1e-400", "true", "false", "null",
                                          "1.7976931348623158e308", "0e99999", "-12.25E+2"};
    static const char* const bad_scalars[] = {"1e400", "-1E+309", "01", "1.", "-", "nul", "2E",
                                              "1.7976931348623159e308", "0.17976931348623159e309"};
    const auto pick = [&](const auto& table) { return std::string(table[rng() % std::size(table)]); };
    const bool bad = rng() % 40 == 0;
    const unsigned kind = depth > 7 ? 2 + rng() % 2 : rng() % 5;
    if (kind == 0 || kind == 1 || kind == 4) {
        const bool object = kind != 1;
        std::string s(1, object ? '{' : '[');
        const unsigned n = rng() % 5;
        for (unsigned i = 0; i < n; ++i) {
            if (i) s += rng() % 8 ? "," : " , ";
            if (object) s += "\"" + pick(keys) + "\":";
            s += kind == 4 && rng() % 2 ? "\"" + pick(strings) + "\"" : random_value(rng, depth + 1);
        }
        return s + (object ? '}' : ']');
    }
    if (kind == 2) return "\"" + (bad ? pick(bad_strings) : pick(strings)) + "\"";
    return bad ? pick(bad_scalars) : pick(scalars);
}

TEST(Acfun, SameAsATreeReaderOnRandomDocuments) {
    std::mt19937 rng(12345);
    static const char edits[] = "{}[],:\"\\ u0e.-+1\x01\x80\xC3\xFF";
    int accepted = 0;
    for (int round = 0; round < 30000; ++round) {
        std::string doc = random_value(rng, 0);
        for (unsigned e = rng() % 3; e > 0 && !doc.empty(); --e) {
            const size_t at = rng() % doc.size();
            const char c = edits[rng() % (sizeof edits - 1)];
            switch (rng() % 3) {
            case 0: doc[at] = c; break;
            case 1: doc.insert(at, 1, c); break;
            default: doc.erase(at, 1); break;
            }
        }
        Store want;
        const int n = tree::parse(want, doc);
        Store got;
        const int rc = cuekit::parse_acfun(got, doc);
        ASSERT_EQ(rc == SUB_OK, n > 0) << doc;
        if (rc != SUB_OK) {
            EXPECT_STREQ(got.error, n < 0 ? "Acfun: invalid JSON" : "no Acfun danmaku") << doc;
            continue;
        }
        ++accepted;
        ASSERT_EQ(got.count(), want.count()) << doc;
        for (size_t i = 0; i < got.count(); ++i) {
            EXPECT_EQ(got.cue(i).start_ms, want.cue(i).start_ms) << doc;
            EXPECT_EQ(got.cue(i).end_ms, want.cue(i).end_ms) << doc;
            EXPECT_EQ(std::memcmp(got.danmaku(i), want.danmaku(i), sizeof(cuekit::DanmakuRecord)), 0) << doc;
            ASSERT_EQ(got.cue(i).line_count, want.cue(i).line_count) << doc;
            for (size_t j = 0; j < got.cue(i).line_count; ++j) EXPECT_EQ(got.line(i, j), want.line(i, j)) << doc;
        }
    }
    EXPECT_GT(accepted, 500); // the documents reach the comment search, not only the refusals
}

} // namespace
