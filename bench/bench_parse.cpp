// Microbenchmarks of decoding (decode/...: a named encoding against "detect"), of sub_parse
// (parse/SHAPE: the C interface with its records and JSON text) and of the C++ interface
// (lean/SHAPE: a borrowing parse that reads every line, and json/SHAPE: the same with the
// document streamed to a sink that only counts), one per generated shape, reporting bytes per
// second. The input is generated in-process (deterministically), so the numbers do not depend
// on files on disk. The plain formats run on a few MiB (CUEKIT_BENCH_MIB overrides it); the
// adversarial shapes on less, because they exist to expose super-linear paths, which would
// otherwise make a run take minutes.
#include "generator.hpp"

#include <cuekit.h>
#ifdef CUEKIT_BENCH_LEAN
#include <cuekit.hpp>
#endif

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

constexpr size_t kPlainSize = 4u << 20;
constexpr size_t kAdversarialSize = 512u << 10;

// Generated once per shape and kept: Google Benchmark calls a benchmark function several
// times while it settles the iteration count.
const std::string& input(const cuekit::bench::Shape& shape) {
    static std::map<std::string_view, std::string> cache;
    auto it = cache.find(shape.name);
    if (it == cache.end()) {
        const char* mib = std::getenv("CUEKIT_BENCH_MIB");
        const size_t plain = mib && std::atoi(mib) > 0 ? static_cast<size_t>(std::atoi(mib)) << 20 : kPlainSize;
        size_t size = shape.adversarial ? kAdversarialSize : plain;
        it = cache.emplace(shape.name, cuekit::bench::generate(shape.name, size)).first;
    }
    return it->second;
}

void bm_parse(benchmark::State& state, const cuekit::bench::Shape* shape) {
    const std::string& data = input(*shape);
    int cues = 0;
    for (auto _ : state) {
        int rc = sub_parse(data.data(), data.size(), shape->format, nullptr);
        if (rc != 0 && shape->parses) {
            // The parsers land one by one; a failing one must not stop the others' figures.
            state.SkipWithError(sub_last_error());
            break;
        }
        cues = sub_cue_count();
        benchmark::DoNotOptimize(sub_result_json());
        sub_clear();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    state.counters["cues"] = cues;
    state.counters["MiB"] = static_cast<double>(data.size()) / (1u << 20);
}

// A 4 MiB SubRip file of Russian dialogue, in UTF-8 or converted to CP1251.
std::string russian_srt(bool cp1251) {
    const std::string line = "Поезд отходит через час. Вы поедете со мной?";
    std::string utf8;
    for (int i = 0; utf8.size() < kPlainSize; ++i)
        utf8 += std::to_string(i + 1) + "\n00:00:01,000 --> 00:00:02,000\n" + line + "\n\n";
    if (!cp1251) return utf8;
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    std::string out(utf8.size(), '\0');
    char* in = utf8.data();
    size_t inleft = utf8.size();
    char* o = out.data();
    size_t oleft = out.size();
    iconv(cd, &in, &inleft, &o, &oleft);
    iconv_close(cd);
    out.resize(out.size() - oleft);
    return out;
}

// Decoding alone: a named encoding against "detect", which reads the whole input once more.
void bm_decode(benchmark::State& state, bool cp1251, const char* encoding) {
    static const std::string inputs[2] = {russian_srt(false), russian_srt(true)};
    const std::string& data = inputs[cp1251 ? 1 : 0];
    for (auto _ : state) {
        if (sub_decode_to_utf8(data.data(), data.size(), encoding) != 0) {
            state.SkipWithError(sub_last_error());
            break;
        }
        sub_clear();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

#ifdef CUEKIT_BENCH_LEAN
// The C++ interface as the tool uses it: a borrowing parse, then every line read (listing)
// or the document streamed (json).
void bm_lean(benchmark::State& state, const cuekit::bench::Shape* shape, bool json) {
    const std::string& data = input(*shape);
    size_t cues = 0;
    for (auto _ : state) {
        const cuekit::Result r =
            cuekit::parse_borrowed(data, static_cast<cuekit::Format>(shape->format), nullptr);
        if (!r && shape->parses) {
            state.SkipWithError(std::string(r.error()).c_str());
            break;
        }
        size_t bytes = 0;
        if (json) {
            r.write_json([](void* context, const char*, size_t size) { *static_cast<size_t*>(context) += size; return true; },
                         &bytes);
        } else {
            for (const cuekit::CueRef c : r)
                for (size_t j = 0; j < c.line_count(); ++j) bytes += c.line(j).size();
        }
        benchmark::DoNotOptimize(bytes);
        cues = r.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    state.counters["cues"] = static_cast<double>(cues);
}
#endif

} // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("decode/utf8-unnamed", bm_decode, false, nullptr)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decode/utf8-detect", bm_decode, false, "detect")->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decode/cp1251-named", bm_decode, true, "cp1251")->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decode/cp1251-detect", bm_decode, true, "detect")->Unit(benchmark::kMillisecond);
    for (const auto& shape : cuekit::bench::shapes()) {
        std::string name = "parse/" + std::string(shape.name);
        benchmark::RegisterBenchmark(name.c_str(), bm_parse, &shape)->Unit(benchmark::kMillisecond);
#ifdef CUEKIT_BENCH_LEAN
        for (const bool json : {false, true}) {
            const std::string lean = (json ? "json/" : "lean/") + std::string(shape.name);
            benchmark::RegisterBenchmark(lean.c_str(), bm_lean, &shape, json)->Unit(benchmark::kMillisecond);
        }
#endif
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sub_clear();
    return 0;
}
