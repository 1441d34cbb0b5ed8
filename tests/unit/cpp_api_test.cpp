// The C++ interface: owning results, and parses on several threads at once.
#include <cuekit.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kSrt = "1\n00:00:01,000 --> 00:00:02,500\nHello\nWorld\n\n2\n00:00:03,000 --> 00:00:04,000\nBye\n";

TEST(CppApi, ResultOwnsItsCues) {
    sub_clear();
    cuekit::Result r = cuekit::parse(kSrt);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.format(), cuekit::Format::Srt);
    EXPECT_EQ(r.format_name(), "srt");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].start_ms(), 1000);
    EXPECT_EQ(r[0].lines(), (std::vector<std::string_view>{"Hello", "World"}));
    EXPECT_FALSE(r[1].is_danmu());
    EXPECT_EQ(r.json(), R"({"format":"srt","cues":[{"start":1000,"end":2500,"lines":["Hello","World"]},)"
                        R"({"start":3000,"end":4000,"lines":["Bye"]}]})");
    // Nothing leaks into the C interface's state.
    EXPECT_EQ(sub_cue_count(), 0);

    cuekit::Result moved = std::move(r);
    EXPECT_EQ(moved.size(), 2u);
    EXPECT_EQ(r.size(), 0u); // NOLINT(bugprone-use-after-move): a moved-from result is empty
    int n = 0;
    for (const cuekit::CueRef c : moved) n += static_cast<int>(c.line_count());
    EXPECT_EQ(n, 3);
}

static_assert(std::random_access_iterator<cuekit::Result::iterator>);

TEST(CppApi, IteratorIsRandomAccess) {
    const cuekit::Result r = cuekit::parse(kSrt + "\n3\n00:00:05,000 --> 00:00:06,000\nLast\n");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(std::distance(r.begin(), r.end()), 3);
    const std::vector<cuekit::CueRef> copy(r.begin(), r.end());
    ASSERT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy[2].start_ms(), 5000);

    auto it = r.begin();
    EXPECT_EQ(it[2].line(0), "Last");
    EXPECT_EQ((*(it + 2)).start_ms(), 5000);
    it += 2;
    EXPECT_EQ((*it).end_ms(), 6000);
    EXPECT_EQ((*(it - 1)).start_ms(), 3000);
    EXPECT_EQ(it - r.begin(), 2);
    EXPECT_TRUE(r.begin() < it && it < r.end() && it <= it && r.end() > it && r.end() >= it);
    EXPECT_EQ(--it, r.begin() + 1);
    EXPECT_EQ(1 + r.begin(), it);
    // Backwards through the standard algorithms.
    std::vector<int32_t> starts;
    std::transform(std::make_reverse_iterator(r.end()), std::make_reverse_iterator(r.begin()),
                   std::back_inserter(starts), [](cuekit::CueRef c) { return c.start_ms(); });
    EXPECT_EQ(starts, (std::vector<int32_t>{5000, 3000, 1000}));
    EXPECT_EQ(std::lower_bound(r.begin(), r.end(), 3000, [](cuekit::CueRef c, int32_t t) { return c.end_ms() <= t; }),
              r.begin() + 1);
}

TEST(CppApi, Failures) {
    cuekit::Result empty = cuekit::parse(std::string_view());
    EXPECT_EQ(empty.code(), 3);
    EXPECT_EQ(empty.error(), "empty buffer");
    EXPECT_EQ(empty.json(), "{}");
    cuekit::Result bad = cuekit::parse(kSrt, static_cast<cuekit::Format>(42));
    EXPECT_EQ(bad.code(), 1);
    cuekit::Result none = cuekit::parse("nothing here", cuekit::Format::Srt);
    EXPECT_EQ(none.code(), 5);
    EXPECT_EQ(none.error(), "no SRT cues");
    EXPECT_EQ(cuekit::detect_format("x", "a.lrc"), cuekit::Format::Lrc);
}

std::vector<std::string> example_files() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(std::string(CUEKIT_SOURCE_DIR) + "/examples")) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    out.push_back(kSrt);
    return out;
}

struct Snapshot {
    int code;
    std::string json;
    std::vector<std::string> warnings;
    std::string error;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const std::string& bytes) {
    const cuekit::Result r = cuekit::parse(bytes);
    Snapshot s{r.code(), r.json(), {}, std::string(r.error())};
    for (const std::string_view w : r.warnings()) s.warnings.emplace_back(w);
    return s;
}

TEST(CppApi, ThreadsParseAtOnceWithSingleThreadedResults) {
    const std::vector<std::string> inputs = example_files();
    std::vector<Snapshot> want;
    for (const auto& in : inputs) want.push_back(snapshot(in));

    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                for (size_t i = 0; i < inputs.size(); ++i) {
                    const size_t k = (i + static_cast<size_t>(t)) % inputs.size(); // threads work on different files
                    if (!(snapshot(inputs[k]) == want[k])) ++mismatches[static_cast<size_t>(t)];
                }
            }
        });
    }
    for (auto& th : pool) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

} // namespace
