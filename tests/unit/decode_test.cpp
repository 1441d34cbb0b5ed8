// Decoding the input to UTF-8.
#include "test_util.hpp"
#include "text/text.hpp"

#include <cuekit.h>
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

struct Decoded {
    int rc;
    std::string text;
    std::string error;
    std::vector<std::string> warnings;
};

Decoded decode(const std::string& bytes, const char* enc = nullptr) {
    sub_clear();
    Decoded d;
    d.rc = sub_decode_to_utf8(bytes.data(), bytes.size(), enc);
    if (g_sub.text) d.text.assign(g_sub.text, static_cast<size_t>(g_sub.text_len));
    d.error = sub_last_error();
    for (int i = 0; i < sub_warning_count(); ++i) d.warnings.emplace_back(sub_warning(i));
    sub_clear();
    return d;
}

const std::string kFffd = "\xEF\xBF\xBD";
const char* const kCp1252Warning = "encoding: auto-detected as CP1252 (invalid UTF-8)";
const char* const kReplaced = "encoding: replaced unconvertible input with U+FFFD";

std::string accents(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "\xE9xy";
    return s;
}

TEST(Decode, ByteOrderMarksDecideOverNames) {
    using W = std::vector<std::string>;
    struct Case {
        std::string in;
        const char* enc;
        int rc;
        std::string text;
        W warnings;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF" "ab", nullptr, 0, "ab", {}},
        {"\xEF\xBB\xBF" "ab", "cp1251", 0, "ab", {}},
        {"\xEF\xBB\xBF\xFF\xFE", nullptr, 0, "\xFF\xFE", {}}, // not validated after the mark
        {std::string("\xFF\xFE" "A\0B\0", 6), nullptr, 0, "AB", {}},
        {std::string("\xFF\xFE" "A\0B\0", 6), "utf-16be", 0, "AB", {}},
        {std::string("\xFE\xFF\0A\0B", 6), nullptr, 0, "AB", {}},
        {"\xFF\xFE", nullptr, 0, "", {}},
        {std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), nullptr, 0, "\xF0\x9F\x98\x80", {}},
        // An odd byte at the end of UTF-16 text is replaced, not a reason to drop the text.
        {std::string("\xFF\xFE" "A\0B", 5), nullptr, 0, "A" + kFffd, {kReplaced}},
    };
    for (const auto& c : cases) {
        const Decoded d = decode(c.in, c.enc);
        EXPECT_EQ(d.rc, c.rc) << c.in;
        EXPECT_EQ(d.text, c.text) << c.in;
        EXPECT_EQ(d.warnings, c.warnings) << c.in;
    }
}

TEST(Decode, Utf16MarkWithSingleByteFails) {
    const Decoded d = decode("\xFF\xFE" "A");
    EXPECT_EQ(d.rc, 2);
    EXPECT_EQ(d.error, "");
}

TEST(Decode, NamedEncodings) {
    EXPECT_EQ(decode("caf\xE9", "Windows-1252").text, "caf\xC3\xA9");
    EXPECT_EQ(decode("caf\xE9", "LATIN1").text, "caf\xC3\xA9");
    EXPECT_EQ(decode("\x82\xA0", "SJIS").text, "\xE3\x81\x82");
    EXPECT_EQ(decode("\xC1\xC2", "koi8-r").text, "\xD0\xB0\xD0\xB1");
    EXPECT_EQ(decode("\xC4\xE3", "gbk").text, "\xE4\xBD\xA0");
    EXPECT_EQ(decode("\xCF\xF0", "cp1251").text, "\xD0\x9F\xD1\x80");
    EXPECT_EQ(decode(std::string("h\0i\0", 4), "utf-16le").text, "hi");

    const Decoded unknown = decode("abc", "foo");
    EXPECT_EQ(unknown.rc, 2);
    EXPECT_EQ(unknown.error, "iconv failed for encoding foo");
    // Bad data at the very start fails, and the message names the converter.
    const Decoded bad_start = decode("\x98" "abc", "cp1251");
    EXPECT_EQ(bad_start.rc, 2);
    EXPECT_EQ(bad_start.error, "iconv failed for encoding CP1251");
}

TEST(Decode, BadInputAfterTheStartIsReplacedNotCut) {
    const Decoded d = decode("ab\x98" "cd\x98" "ef", "cp1251");
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.text, "ab" + kFffd + "cd" + kFffd + "ef");
    EXPECT_EQ(d.warnings, std::vector<std::string>{kReplaced});
}

TEST(Decode, Utf8PassesThroughByteForByte) {
    const std::string valid = "plain ASCII, \xC3\xA9t\xC3\xA9, \xE4\xB8\xAD\xE6\x96\x87, \xF0\x9F\x98\x80";
    EXPECT_EQ(decode(valid).text, valid);
    EXPECT_EQ(decode(valid, "utf-8").text, valid);
    EXPECT_EQ(decode(valid, "UTF8").text, valid);
    // UTF-16 without a mark is not recognised: its NULs are valid bytes.
    const std::string u16("h\0i\0", 4);
    EXPECT_EQ(decode(u16).text, u16);
}

TEST(Decode, InvalidUtf8Threshold) {
    const Decoded seven = decode(accents(7));
    EXPECT_EQ(seven.text, accents(7));
    EXPECT_TRUE(seven.warnings.empty());

    for (const char* enc : {static_cast<const char*>(nullptr), "utf-8"}) {
        const Decoded eight = decode(accents(8) + "\x80", enc);
        std::string want;
        for (int i = 0; i < 8; ++i) want += "\xC3\xA9xy";
        want += "\xE2\x82\xAC";
        EXPECT_EQ(eight.text, want);
        EXPECT_EQ(eight.warnings, std::vector<std::string>{kCp1252Warning});
    }
    // Two accents side by side are one invalid sequence (the second rides on the first).
    std::string pairs;
    for (int i = 0; i < 7; ++i) pairs += "\xE9\xE9xyz";
    EXPECT_EQ(decode(pairs).text, pairs);
    // A lead byte in the last position counts once.
    EXPECT_EQ(decode(accents(6) + "\xC3").text, accents(6) + "\xC3");
    EXPECT_EQ(decode(accents(7) + "\xC3").warnings, std::vector<std::string>{kCp1252Warning});
}

TEST(Decode, Cp1252FallbackReplacesUnmappedBytes) {
    // 0x81 has no CP1252 mapping: it becomes U+FFFD and the rest of the file survives.
    const Decoded d = decode(accents(8) + "\x81" "tail");
    std::string want;
    for (int i = 0; i < 8; ++i) want += "\xC3\xA9xy";
    EXPECT_EQ(d.text, want + kFffd + "tail");
    EXPECT_EQ(d.warnings, (std::vector<std::string>{kCp1252Warning, kReplaced}));
}

// CP1252 is converted by a table of its own; the general converter, reached through another
// name of the same charset, must give the same text, warnings and refusals.
TEST(Decode, Cp1252TableMatchesTheGeneralConverter) {
    std::mt19937 rng(1252);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        const int n = static_cast<int>(rng() % (round % 8 == 0 ? 300 : 12)) + 1;
        for (int i = 0; i < n; ++i) bytes += static_cast<char>(rng() % 3 ? 'a' + rng() % 26 : rng() % 256);
        const Decoded table = decode(bytes, "cp1252");
        const Decoded general = decode(bytes, "MS-ANSI");
        ASSERT_EQ(table.rc, general.rc) << round;
        EXPECT_EQ(table.text, general.text) << round;
        EXPECT_EQ(table.warnings, general.warnings) << round;
    }
}

// UTF-16 units in either byte order, with one stray byte after them when `odd`.
std::string utf16(const std::vector<uint16_t>& units, bool big_endian, bool odd = false) {
    std::string b;
    for (const uint16_t u : units) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        b += {big_endian ? hi : lo, big_endian ? lo : hi};
    }
    return odd ? b + 'x' : b;
}

// UTF-16 is converted by a loop of its own; the general converter, reached through a name the
// loop does not take, must give the same result, and the loop's form without SSE2 the same text.
void expect_utf16_as_general(const std::vector<uint16_t>& units, bool odd, const std::string& where) {
    for (const bool be : {false, true}) {
        const std::string in = utf16(units, be, odd), at = where + (be ? " BE" : " LE");
        const Decoded own = decode(in, be ? "utf-16be" : "utf-16le");
        const Decoded general = decode(in, be ? "UTF-16BE//" : "UTF-16LE//");
        ASSERT_EQ(own.rc, general.rc) << at;
        EXPECT_EQ(own.text, general.text) << at;
        EXPECT_EQ(own.warnings, general.warnings) << at;
        std::string fast(3 * in.size() / 2 + 8, '\0'), portable = fast;
        size_t fast_len = 0, portable_len = 0;
        ASSERT_EQ(cuekit::utf16_to_utf8(in, be, fast.data(), fast_len),
                  cuekit::utf16_to_utf8_portable(in, be, portable.data(), portable_len)) << at;
        EXPECT_EQ(fast.substr(0, fast_len), portable.substr(0, portable_len)) << at;
    }
}

TEST(Decode, Utf16LoopMatchesTheGeneralConverter) {
    // Edge values, and lone surrogates at the start, in the middle and at the end, beside runs
    // long enough for the block steps.
    const std::vector<uint16_t> edges{0x0000, 0x007F, 0x0080, 0x07FF, 0x0800, 0xFEFF, 0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF};
    EXPECT_EQ(decode("\xFF\xFE" + utf16(edges, false)).text,
              std::string("\0\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBB\xBF\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 23));
    const std::vector<uint16_t> run(9, 'a');
    const auto cat = [](const std::vector<std::vector<uint16_t>>& parts) {
        std::vector<uint16_t> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::vector<std::vector<uint16_t>> cases{
        {}, edges, cat({{0x4E2D}, run, {0xE9}, run, {0xD83D, 0xDE00}}), {0xDC00, 'a'}, {0xD800, 'a'}, {0xD800},
        cat({run, {0xDC00}, run}), cat({run, {0xD83D, 'a'}, run}), cat({run, {0xD83D}}), cat({{0xDFFF}, run, {0xDBFF}})};
    for (size_t k = 0; k < cases.size(); ++k) {
        for (const bool odd : {false, true}) expect_utf16_as_general(cases[k], odd, "case " + std::to_string(k));
    }
}

TEST(Decode, Utf16LoopMatchesTheGeneralConverterOnRandomText) {
    std::mt19937 rng(16);
    const uint16_t pick[] = {0x0000, 0x00E9, 0x07FF, 0x0800, 0x4E2D, 0xFEFF, 0xFFFF, 'a', ' ', '\n'};
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
        std::vector<uint16_t> units;
        const int n = static_cast<int>(rng() % (round % 10 == 0 ? 400 : 30));
        for (int i = 0; i < n; ++i) {
            if (rng() % 8 == 0) units.insert(units.end(), {static_cast<uint16_t>(0xD800 + rng() % 0x400), static_cast<uint16_t>(0xDC00 + rng() % 0x400)});
            else units.push_back(rng() % 2 ? static_cast<uint16_t>('!' + rng() % 90) : pick[rng() % std::size(pick)]);
        }
        const bool ill = round % 3 == 0;
        if (ill) units.insert(units.begin() + static_cast<long>(rng() % (units.size() + 1)), static_cast<uint16_t>(0xD800 + rng() % 0x800));
        expect_utf16_as_general(units, ill && rng() % 2, "round " + std::to_string(round));
    }
}

TEST(Decode, FallsBackToLatin1WhenCp1252FailsAtOnce) {
    const Decoded d = decode("\x81" + accents(8));
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.text.substr(0, 2), "\xC2\x81");
    EXPECT_EQ(d.warnings, std::vector<std::string>{"encoding: fell back to ISO-8859-1"});
}

} // namespace

namespace {

// Each form of the first pass against the byte-by-byte count and the character-by-character
// check, on random texts of the bytes that matter, across chunk boundaries, early exits and
// the text's end.
TEST(DecodeScan, FirstPassAgreesWithTheCountAndTheCharacters) {
    std::mt19937 rng(7);
    const unsigned char bytes[] = {'a', 0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC3, 0xDF,
                                   0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xF7, 0xF8, 0xFF};
    const std::string valid[] = {"\xC3\xA9", "\xE2\x80\x94", "\xF0\x9F\x98\x80", "abcdefgh"};
    const auto well_formed = [](std::string_view s) {
        for (size_t i = 0, bad = 0; i < s.size();) {
            const size_t len = cuekit::utf8_sequence(s, i, bad);
            if (len == 0) return false;
            i += len;
        }
        return true;
    };
    using cuekit::Utf8Form;
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int n = static_cast<int>(rng() % (round % 10 == 0 ? 700 : 40));
        for (int i = 0; i < n; ++i) {
            if (rng() % (n > 40 ? 400 : 4) == 0) s += static_cast<char>(bytes[rng() % std::size(bytes)]);
            else s += valid[rng() % std::size(valid)];
        }
        const Utf8Form want = cuekit::count_invalid_utf8(s, 8) != 0 ? Utf8Form::invalid
                              : well_formed(s)                       ? Utf8Form::well_formed
                                                                     : Utf8Form::patterns_hold;
        EXPECT_EQ(cuekit::utf8_form(s), want) << round;
        EXPECT_EQ(cuekit::utf8_form_sse2(s), want) << round;
        if (cuekit::have_avx2()) {
            EXPECT_EQ(cuekit::utf8_form_avx2(s), want) << round;
        }
    }
}

// What is known of decoded texts: checked UTF-8 and the output of the loops of our own, never
// a text taken with a flaw; left unchecked after a byte-order mark and from the general
// converter.
TEST(DecodeScan, FormIsKnownOnlyWhereItHolds) {
    using cuekit::TextForm;
    const struct {
        std::string bytes;
        const char* encoding;
        TextForm form;
    } cases[] = {
        {"plain \xC3\xA9 text", nullptr, TextForm::well_formed},
        {"surrogate \xED\xA0\x80 inside", nullptr, TextForm::flawed},  // the byte patterns hold
        {"caf\xE9 cr\xE8me", nullptr, TextForm::flawed},                // a few flaws: taken as it is
        {"\xE9xy\xE9xy\xE9xy\xE9xy\xE9xy\xE9xy\xE9xy\xE9xy\xE9xy", nullptr, TextForm::well_formed}, // CP1252 by its table
        {std::string("\xFF\xFEh\0i\0", 6), nullptr, TextForm::well_formed}, // UTF-16LE
        {std::string("\xFF\xFEh\0\x00\xD8", 6), nullptr, TextForm::unchecked}, // a lone surrogate: general converter
        {"plain", "ISO-8859-2", TextForm::unchecked},                      // the general converter
        {"\xEF\xBB\xBFmarked", nullptr, TextForm::unchecked},             // after a byte-order mark
    };
    for (const auto& c : cases) {
        const cuekit::Decoded d = cuekit::decode_to_utf8(c.bytes.data(), c.bytes.size(), c.encoding);
        EXPECT_EQ(d.result, 0) << c.bytes;
        EXPECT_EQ(d.form, c.form) << c.bytes;
    }
}

} // namespace
