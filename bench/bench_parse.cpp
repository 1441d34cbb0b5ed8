// Microbenchmarks of sub_parse, one per generated shape, reporting bytes per second. The input
// is generated in-process (deterministically), so the numbers do not depend on files on disk.
// The plain formats run on a few MiB; the adversarial shapes on less, because they exist to
// expose super-linear paths, which would otherwise make a run take minutes.
#include "generator.hpp"

#include <cuekit.h>

#include <benchmark/benchmark.h>

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
        size_t size = shape.adversarial ? kAdversarialSize : kPlainSize;
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

} // namespace

int main(int argc, char** argv) {
    for (const auto& shape : cuekit::bench::shapes()) {
        std::string name = "parse/" + std::string(shape.name);
        benchmark::RegisterBenchmark(name.c_str(), bm_parse, &shape)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sub_clear();
    return 0;
}
