// The lean result of the C++ interface against the C records of sub_parse, on every example
// and every input of the fuzz corpus: same code, format, error text, warnings, cues and JSON,
// whether the result copied its input or borrows it.
#include <cuekit.hpp>

#include "../../fuzz/invariants.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Case {
    std::string name;
    std::string bytes;
    int format;
    const char* encoding;
};

std::string read_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<std::filesystem::path> files_in(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const auto& p : files_in(CUEKIT_SOURCE_DIR "/examples")) {
        std::string bytes = read_file(p);
        const int format = sub_detect_format(bytes.data(), bytes.size(), p.filename().c_str());
        all.push_back({p.filename().string(), std::move(bytes), format, nullptr});
    }
    // As the fuzz harness reads them: the first byte picks the format and the encoding.
    for (const auto& p : files_in(CUEKIT_SOURCE_DIR "/fuzz/corpus/parse")) {
        const std::string bytes = read_file(p);
        if (bytes.empty()) continue;
        const auto first = static_cast<unsigned char>(bytes[0]);
        all.push_back({p.filename().string(), bytes.substr(1), cuekit_invariants::format_choice(first),
                       cuekit_invariants::encoding_choice(first)});
    }
    return all;
}

// The input in a block of exactly its size: a read past its end is an error under ASan.
struct ExactCopy {
    explicit ExactCopy(const std::string& s) : data(static_cast<char*>(std::malloc(std::max<size_t>(s.size(), 1)))) {
        if (!s.empty()) std::memcpy(data, s.data(), s.size());
        size = s.size();
    }
    ~ExactCopy() { std::free(data); }
    ExactCopy(const ExactCopy&) = delete;
    ExactCopy& operator=(const ExactCopy&) = delete;
    char* data;
    size_t size;
};

// Why the lean result differs from what sub_parse left in g_sub, or "".
std::string compare(const cuekit::Result& r, int rc) {
    if (r.code() != rc) return "code " + std::to_string(r.code()) + " vs " + std::to_string(rc);
    if (r.error() != sub_last_error()) return "error text";
    const auto warnings = r.warnings();
    if (warnings.size() != static_cast<size_t>(sub_warning_count())) return "warning count";
    for (size_t i = 0; i < warnings.size(); ++i)
        if (warnings[i] != sub_warning(static_cast<int>(i))) return "warning " + std::to_string(i);
    if (rc != 0) return r.json() == "{}" ? "" : "JSON of a failure";
    if (static_cast<int>(r.format()) != sub_detected_format()) return "format";
    if (r.size() != static_cast<size_t>(sub_cue_count())) return "cue count";
    for (size_t i = 0; i < r.size(); ++i) {
        const cuekit::CueRef c = r[i];
        const int k = static_cast<int>(i);
        if (c.start_ms() != sub_cue_start_ms(k) || c.end_ms() != sub_cue_end_ms(k)) return "times of cue " + std::to_string(i);
        if (c.is_danmu() != (sub_cue_is_danmu(k) != 0) || c.mode() != sub_cue_danmu_mode(k) ||
            c.color() != sub_cue_danmu_color(k) || c.fontsize() != sub_cue_danmu_fontsize(k))
            return "danmaku fields of cue " + std::to_string(i);
        if (c.line_count() != static_cast<size_t>(sub_cue_line_count(k))) return "line count of cue " + std::to_string(i);
        for (size_t j = 0; j < c.line_count(); ++j)
            if (c.line(j) != sub_cue_line(k, static_cast<int>(j))) return "line of cue " + std::to_string(i);
    }
    // Streamed in pieces, the document is the same as in one text.
    std::string streamed;
    const bool ok = r.write_json(
        [](void* context, const char* data, size_t size) {
            static_cast<std::string*>(context)->append(data, size);
            return true;
        },
        &streamed);
    if (!ok || streamed != sub_result_json()) return "streamed JSON";
    return r.json() == sub_result_json() ? "" : "JSON";
}

TEST(LeanResult, SameAsTheCRecordsOnExamplesAndTheFuzzCorpus) {
    size_t compared = 0;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const int rc = sub_parse(c.bytes.data(), c.bytes.size(), c.format, c.encoding);
        cuekit::Result owned;
        {
            const ExactCopy input(c.bytes);
            owned = cuekit::parse(input.data, input.size, static_cast<cuekit::Format>(c.format), c.encoding);
            const cuekit::Result borrowed = cuekit::parse_borrowed(std::string_view(input.data, input.size),
                                                                   static_cast<cuekit::Format>(c.format), c.encoding);
            ASSERT_EQ(compare(borrowed, rc), "") << "borrowed";
        }
        // The input is gone: the copying parse must not need it.
        ASSERT_EQ(compare(owned, rc), "") << "owned";
        ++compared;
        sub_clear();
    }
    EXPECT_GT(compared, 1000u);
}

// A sink that refuses a piece ends the writing with false: never a silently short document.
TEST(LeanResult, RefusedPieceFailsTheWrite) {
    std::string srt;
    for (int i = 0; i < 3000; ++i) srt += "1\n00:00:01,000 --> 00:00:02,000\nsome text of a line\n\n";
    const cuekit::Result r = cuekit::parse(srt);
    ASSERT_TRUE(r);
    int calls = 0;
    EXPECT_FALSE(r.write_json([](void* context, const char*, size_t) { return ++*static_cast<int*>(context) < 2; }, &calls));
    EXPECT_EQ(calls, 2);
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(r.write_json(full));
    std::fclose(full);
}

} // namespace
