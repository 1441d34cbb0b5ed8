// Deterministic generator of large input files for the benchmarks: realistic files of each
// format and adversarial shapes that stress the worst paths of the parsers. The same shape,
// size and seed always give the same bytes, so measurements from different runs and machines
// compare the same work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cuekit::bench {

struct Shape {
    std::string_view name;
    int format;               // the identifier to name to sub_parse; -1 leaves the choice to the library
    std::string_view extension; // for files written to disk, so that peers that go by the name find them
    bool adversarial;
    bool parses = true; // false: no parser is meant to accept it (it measures the way to "no")
};

// Every shape the generator knows, the eleven plain formats first.
std::span<const Shape> shapes();
// The row of `name`, or nullptr.
const Shape* find_shape(std::string_view name);

constexpr uint64_t kDefaultSeed = 0x5eed'c0de'2024'0007ULL;

// A file of shape `shape` of exactly `size` bytes (padded at the end with bytes the format
// ignores). Unknown shapes give an empty string.
std::string generate(std::string_view shape, size_t size, uint64_t seed = kDefaultSeed);

// One file of the batch corpus: many small files as a collection of real ones looks, every
// plain format in turn, 5 to 200 KiB (log-uniform, so most are small), most in UTF-8 and some
// with a byte-order mark, in UTF-16 or (SubRip) in CP1252. `path` is relative to the corpus
// folder, "GGG/NNNNN-SHAPE-ENCODING.EXT" with a hundred files per folder GGG, so that a reader
// that needs the encoding named (CP1252) finds it in the name. A file depends only on its
// index and the seed: any prefix of a larger corpus is the smaller corpus.
struct CorpusFile {
    std::string path;
    std::string bytes;
};
CorpusFile corpus_file(size_t index, uint64_t seed = kDefaultSeed);

} // namespace cuekit::bench
