// Allocation failure, one point at a time: for every k from 1 until a parse no longer
// reaches it, the k-th allocation of the parse fails. Every such run must end in one of
// the outcomes the library promises, leak nothing, and leave the library able to give the
// full result on the next parse.
//
// Legitimate outcomes of a run in which one allocation failed:
// - result 4 with the state of a failed parse (JSON "{}", invariants hold);
// - result 0 with exactly the reference cues, format and error text, where only the
//   non-fatal parts may be missing: the JSON document may read "{}" (it could not be
//   built) and a warning slot may be null (its copy could not be made).
// Anything else (another result code, a success with fewer or different cues, a leak) is
// a fault. The hook (alloc_hook.cpp) fails malloc, calloc, realloc and operator new alike.
#include "alloc_hook.hpp"
#include "../../fuzz/invariants.hpp"

#include <cuekit.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

struct CueRecord {
    int start, end, danmu, mode;
    unsigned color;
    float size;
    std::vector<std::string> lines;
    bool operator==(const CueRecord&) const = default;
};

struct Outcome {
    int rc = 0;
    int format = SUB_FORMAT_AUTO;
    std::string error, json;
    std::vector<CueRecord> cues;
    std::vector<std::optional<std::string>> warnings;
};

Outcome snapshot(int rc) {
    Outcome o;
    o.rc = rc;
    o.format = sub_detected_format();
    o.error = sub_last_error();
    o.json = sub_result_json();
    for (int i = 0; i < sub_cue_count(); ++i) {
        CueRecord c{sub_cue_start_ms(i), sub_cue_end_ms(i), sub_cue_is_danmu(i), sub_cue_danmu_mode(i),
                    sub_cue_danmu_color(i), sub_cue_danmu_fontsize(i), {}};
        for (int j = 0; j < sub_cue_line_count(i); ++j) c.lines.emplace_back(sub_cue_line(i, j));
        o.cues.push_back(std::move(c));
    }
    for (int i = 0; i < sub_warning_count(); ++i) {
        const char* w = sub_warning(i);
        o.warnings.push_back(w ? std::optional<std::string>(w) : std::nullopt);
    }
    return o;
}

struct Input {
    std::string name;
    std::string bytes;
    int format;           // SUB_FORMAT_AUTO: detected from content and name, as the tool does
    const char* encoding; // may be null
};

int run(const Input& in) {
    return sub_parse(in.bytes.data(), in.bytes.size(), in.format, in.encoding);
}

// Why `got` (a run with one failed allocation) is no legitimate outcome, or "".
std::string judge(const Outcome& got, const Outcome& ref) {
    if (got.rc == 4) return got.json == "{}" ? "" : "result 4 with a JSON text";
    if (got.rc != 0) return "result " + std::to_string(got.rc) + " (expected 0 or 4)";
    if (ref.rc != 0) return "success where the normal parse fails";
    if (got.format != ref.format) return "another format";
    if (got.cues != ref.cues) return "success with cues that differ from the normal parse";
    if (got.error != ref.error) return "error text differs: " + got.error;
    if (got.json != ref.json && got.json != "{}") return "JSON text neither complete nor absent";
    if (got.warnings.size() != ref.warnings.size()) return "warning count differs";
    for (size_t i = 0; i < got.warnings.size(); ++i)
        if (got.warnings[i] && got.warnings[i] != ref.warnings[i]) return "warning text differs";
    return "";
}

std::string read_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<Input> inputs() {
    std::vector<Input> all;
    // Every example file, its format detected the way the tool does it.
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(CUEKIT_SOURCE_DIR "/examples"))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& p : files) {
        std::string bytes = read_file(p);
        const int format = sub_detect_format(bytes.data(), bytes.size(), p.filename().c_str());
        all.push_back({p.filename().string(), std::move(bytes), format, nullptr});
    }

    // Growth of the cue store past 16 and of a line list past 4, with a warning on the way.
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += std::to_string(i + 1) + "\n00:00:" + std::to_string(10 + i) + ",000 --> 00:00:" +
                std::to_string(11 + i) + ",000\na\nb\nc\nd\ne\nf\n\n";
    all.push_back({"many-cues.srt", many, 0, nullptr});

    const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\nCaf\xC3\xA9 \xE2\x82\xAC\n\n"
                            "2\n00:00:03,000 --> 00:00:04,000\nsecond\n";
    // UTF-16 after a mark, a named conversion, and the CP1252 fallback with its warning.
    std::string u16 = "\xFF\xFE";
    for (const char c : std::string("1\n00:00:01,000 --> 00:00:02,000\nwide\n")) u16 += std::string{c, '\0'};
    all.push_back({"utf16-bom", u16, -1, nullptr});
    all.push_back({"cp1251-named", "1\n00:00:01,000 --> 00:00:02,000\n\xCF\xF0\xE8\xE2\xE5\xF2\n", 0, "cp1251"});
    // The charset detector, and UTF-16 told by its zero bytes.
    all.push_back({"cp1251-detected",
                   "1\n00:00:01,000 --> 00:00:02,000\n\xCF\xF0\xE8\xE2\xE5\xF2, \xEA\xE0\xEA \xE4\xE5\xEB\xE0?\n", 0,
                   "detect"});
    all.push_back({"utf16-detected", u16.substr(2), 0, "detect"});
    all.push_back({"cp1252-fallback", "1\n00:00:01,000 --> 00:00:02,000\n\xE9\xE9 \xE9 \xE9 \xE9 \xE9 \xE9 \xE9 \xE9 \x80\n", 0,
                   nullptr});
    // Content detection sees nothing in UTF-16 without a mark: the whole fallback order runs.
    std::string u16_bare = u16.substr(2);
    all.push_back({"utf16-fallback-order", u16_bare, -1, "utf-16le"});
    // An ill-formed line: the JSON writer needs its repaired copy.
    all.push_back({"ill-formed-line", srt + "\n3\n00:00:05,000 --> 00:00:06,000\nbad \xFF byte\n", 0, nullptr});
    // XML with comments and CDATA (flattened text), a sequence, nested divs and timed spans.
    std::string ttml = "<tt><body><!-- c --><div timeContainer=\"seq\">";
    for (int i = 0; i < 20; ++i) ttml += "<div dur=\"1s\">";
    ttml += "<p><span begin=\"0.2s\"><span dur=\"0.5s\"><![CDATA[a < b]]></span></span></p>";
    for (int i = 0; i < 20; ++i) ttml += "</div>";
    all.push_back({"ttml-timing", ttml + "</div></body></tt>", 5, nullptr});
    all.push_back({"bilibili-cdata", "<i><!-- <d p=\"1\">x</d> --><d p=\"2\"><![CDATA[a < b]]></d></i>", 9, nullptr});
    all.push_back({"sami-comment", "<SAMI><SYNC Start=1><P>a<!-- <SYNC Start=2> --> b<SYNC Start=3><P>c", 8, nullptr});
    return all;
}

TEST(AllocationFailure, EveryPointOfEveryInput) {
    long points = 0;
    for (const Input& in : inputs()) {
        SCOPED_TRACE(in.name);
        sub_clear();
        const Outcome ref = snapshot(run(in));
        sub_clear();
        for (long k = 1;; ++k) {
            alloc_hook::arm(k);
            const int rc = run(in);
            const bool failed = alloc_hook::disarm();
            const Outcome got = snapshot(rc);
            if (const std::string why = cuekit_invariants::check_parse_result(rc, true); !why.empty())
                ADD_FAILURE() << "allocation " << k << ": " << why;
            alloc_hook::resume(); // count the frees of what the run left behind
            sub_clear();
            const long leaked = alloc_hook::live_blocks();
            alloc_hook::disarm();
            // Below zero: the run freed blocks from before it (the charset detector each thread
            // keeps replaces parts of itself), which is no leak.
            EXPECT_LE(leaked, 0) << "allocation " << k << " failed: blocks leaked";
            if (!failed) {
                EXPECT_EQ(judge(got, ref), "") << "normal run after " << k - 1 << " failure points";
                EXPECT_EQ(got.rc, ref.rc);
                break;
            }
            ++points;
            EXPECT_EQ(judge(got, ref), "") << "allocation " << k << " of " << in.name << " failed";
            // The next parse must be whole again.
            const Outcome again = snapshot(run(in));
            EXPECT_EQ(judge(again, ref), "") << "parse after failing allocation " << k;
            EXPECT_EQ(again.json, ref.json);
            sub_clear();
            if (::testing::Test::HasFailure()) break; // one report per input is enough
        }
    }
    std::printf("allocation failure points exercised: %ld\n", points);
    EXPECT_GT(points, 0);
}

// Writing every target (after a time shift) either gives the whole text or result 4 with
// nothing, and leaks nothing.
TEST(AllocationFailure, WritersAreAllOrNothing) {
    long points = 0;
    for (const Input& in : inputs()) {
        if (run(in) != 0) continue;
        sub_clear();
        // The JSON document once more with its lines stripped: they come from the writer then.
        for (const char* target : {"srt", "vtt", "ass", "ttml", "lrc", "txt", "json", "json stripped"}) {
            SCOPED_TRACE(in.name + " -> " + target);
            sub_write_options opts;
            sub_write_options_init(&opts);
            opts.strip = std::strchr(target, ' ') != nullptr;
            auto write = [&](char** out, size_t* len) {
                EXPECT_EQ(sub_retime(-1500, 25, 24), 0);
                return sub_write(opts.strip ? "json" : target, &opts, out, len);
            };
            run(in);
            char* ref = nullptr;
            size_t ref_len = 0;
            ASSERT_EQ(write(&ref, &ref_len), 0);
            const std::string want(ref, ref_len);
            std::free(ref);
            sub_clear();
            // Blocks counted from arming until after sub_clear(), which frees the parse's own
            // blocks too: a run without a failure gives the count that means "no leak".
            long no_leak = 0;
            for (long k = 0;; ++k) {
                run(in);
                char* out = nullptr;
                size_t len = 0;
                alloc_hook::arm(k);
                const int rc = write(&out, &len);
                const bool failed = alloc_hook::disarm();
                alloc_hook::resume();
                if (rc == 0)
                    EXPECT_EQ(std::string(out, len), want) << "allocation " << k;
                else
                    EXPECT_TRUE(rc == 4 && out == nullptr && failed) << "allocation " << k << ": result " << rc;
                std::free(out);
                sub_clear();
                if (k == 0) no_leak = alloc_hook::live_blocks();
                EXPECT_EQ(alloc_hook::live_blocks(), no_leak) << "allocation " << k << " failed: blocks leaked";
                alloc_hook::disarm();
                if ((k > 0 && !failed) || ::testing::Test::HasFailure()) break;
                points += k > 0;
            }
        }
    }
    std::printf("writer allocation failure points exercised: %ld\n", points);
    EXPECT_GT(points, 0);
}

// The C++ interface: a parse with one failed allocation is either result 4 or the whole
// result, and a streamed document is either written whole or reported as not written.
TEST(AllocationFailure, LeanResultAndStreamedJson) {
    long points = 0;
    for (const Input& in : inputs()) {
        // Inputs that need a converter are left to the sweep above (the same store behind the
        // C interface): the converter's own cache makes block counts drift between runs.
        if (in.encoding || in.bytes.starts_with("\xFF\xFE") || in.bytes.starts_with("\xFE\xFF")) continue;
        SCOPED_TRACE(in.name);
        const auto format = static_cast<cuekit::Format>(in.format);
        const cuekit::Result ref = cuekit::parse(in.bytes, format, in.encoding);
        const std::string want = ref.json();
        auto append = [](void* context, const char* data, size_t size) {
            static_cast<std::string*>(context)->append(data, size);
            return true;
        };
        long no_leak = 0; // as in the writers' sweep: a run without a failure sets the count
        for (long k = 0;; ++k) {
            int code = 0;
            bool same = true;
            alloc_hook::arm(k);
            {
                const cuekit::Result r = cuekit::parse(in.bytes, format, in.encoding);
                code = r.code();
                std::string doc;
                const bool written = r.write_json(append, &doc);
                if (code == ref.code() && written) same = doc == want && r.size() == ref.size();
                try { // the whole document, or bad_alloc: never a stand-in
                    same = same && (code != ref.code() || r.json() == want);
                } catch (const std::bad_alloc&) {
                }
            }
            const bool failed = alloc_hook::disarm();
            alloc_hook::resume();
            if (k == 0) no_leak = alloc_hook::live_blocks();
            EXPECT_EQ(alloc_hook::live_blocks(), no_leak) << "allocation " << k << " failed: blocks leaked";
            alloc_hook::disarm();
            EXPECT_TRUE(code == ref.code() || code == 4) << "allocation " << k << ": code " << code;
            EXPECT_TRUE(same) << "allocation " << k << ": a document written whole differs";
            if ((k > 0 && !failed) || ::testing::Test::HasFailure()) break;
            points += k > 0;
        }
    }
    std::printf("lean allocation failure points exercised: %ld\n", points);
    EXPECT_GT(points, 0);
}

// A line array either comes back whole or not at all: never with a missing line.
TEST(AllocationFailure, SplitLinesIsAllOrNothing) {
    const std::string text = "a\nbb\r\nccc\rdddd\r\r\ne\xE2\x80\xA8" "f";
    for (long k = 1;; ++k) {
        int count = -1;
        alloc_hook::arm(k);
        char** lines = sub_split_lines(text.data(), text.size(), &count);
        const bool failed = alloc_hook::disarm();
        if (lines) {
            ASSERT_EQ(count, 6) << "allocation " << k;
            for (int i = 0; i < count; ++i) ASSERT_NE(lines[i], nullptr) << "allocation " << k << ", line " << i;
        } else {
            EXPECT_TRUE(failed);
        }
        alloc_hook::resume();
        sub_free_lines(lines, count);
        EXPECT_EQ(alloc_hook::live_blocks(), 0);
        alloc_hook::disarm();
        if (!failed) break;
    }
}

// A quoted text is whole or not made: std::bad_alloc, never a cut string.
TEST(AllocationFailure, JsonQuotedIsAllOrNothing) {
    const std::string text = std::string(70000, 'a') + "\"\x01\xFF\xE2\x80\xA8";
    const std::string whole = cuekit::json_quoted(text);
    for (long k = 1;; ++k) {
        alloc_hook::arm(k);
        std::string got;
        bool threw = false;
        try {
            got = cuekit::json_quoted(text);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool failed = alloc_hook::disarm();
        EXPECT_EQ(threw, failed) << "allocation " << k;
        if (!threw) {
            EXPECT_EQ(got, whole) << "allocation " << k;
        }
        alloc_hook::resume();
        alloc_hook::disarm();
        if (!failed) break;
    }
}

// Name lookups allocate nothing, so no failing allocation can change their answer.
TEST(AllocationFailure, FormatNamesNeedNoMemory) {
    alloc_hook::arm(1);
    for (int id = 0; id < SUB_FORMAT_COUNT; ++id) EXPECT_EQ(sub_format_from_name(sub_format_name(id)), id);
    EXPECT_EQ(sub_format_from_name("smi"), SUB_FORMAT_SAMI);
    for (int t = 0; t < sub_target_count(); ++t) EXPECT_EQ(sub_target_from_path(sub_target_name(t)), SUB_TARGET_UNKNOWN);
    EXPECT_EQ(sub_target_from_name("SSA"), sub_target_from_path("a.ass"));
    sub_write_options o;
    sub_write_options_init(&o);
    o.font = "a font name longer than any string kept without memory,";
    EXPECT_NE(sub_write_options_check(&o), nullptr);
    EXPECT_FALSE(alloc_hook::disarm());
}

} // namespace
