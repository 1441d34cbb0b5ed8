// The one table of formats: names, extension hints, parsers, content probes, the detection
// and fallback orders and second chances are all read from it.
//
// Adding a format:
//   1. Give it the next identifier in cuekit.h (SUB_FORMAT_*) and raise SUB_FORMAT_COUNT;
//      add it to cuekit::Format in cuekit.hpp.
//   2. Write formats/<name>.cpp with parse_<name>, ending through finish_parse with its
//      identifier, and probe_<name>; declare both in formats/formats.hpp.
//   3. Add its row below: ranks in the detection and fallback orders (shift the others so
//      each order stays 1..n), extensions, aliases, second chance, the markup its lines
//      carry and whether it is danmaku. A format that can also be written gets a row in
//      the writers' target table (writers/write.cpp) naming it: the target takes the
//      format's aliases and extensions from here, and the tool, its messages and the Python
//      module read the targets from the library.
//   4. Add a row to the fallback-order test (tests/unit/driver_test.cpp), a detection case
//      and a parser test; extend the tool's usage line of format names, the man page and
//      the README.
//
// A .sub file may be SubViewer rather than MicroDVD, an .xml file Bilibili danmaku rather
// than YouTube captions, hence their second chances. SubRip accepts almost anything with an
// arrow, so it is probed and tried last. Before any probe, a file that begins with a format's own
// structure (its lead) is that format: cue text further on may quote another format's signature.
#include "formats/formats.hpp"

#include <cstring>

namespace cuekit {
namespace {

constexpr std::array<FormatInfo, SUB_FORMAT_COUNT> kFormats{{
    {.id = SUB_FORMAT_SRT, .name = "srt", .aliases = {}, .extensions = {".srt"},
     .parse = parse_srt, .probe = probe_srt, .detect_rank = 11, .fallback_rank = 11, .retry_as = SUB_FORMAT_AUTO,
     .markup = Markup::Html, .tags = "i b u s font", .lead = lead_srt},
    {.id = SUB_FORMAT_VTT, .name = "vtt", .aliases = {}, .extensions = {".vtt", ".webvtt"},
     .parse = parse_vtt, .probe = probe_vtt, .detect_rank = 1, .fallback_rank = 1, .retry_as = SUB_FORMAT_AUTO,
     .markup = Markup::Vtt},
    {.id = SUB_FORMAT_ASS, .name = "ass", .aliases = {"ssa"}, .extensions = {".ass", ".ssa"},
     .parse = parse_ass, .probe = probe_ass, .detect_rank = 2, .fallback_rank = 2, .retry_as = SUB_FORMAT_AUTO,
     .markup = Markup::Ass},
    {.id = SUB_FORMAT_MICRODVD, .name = "microdvd", .aliases = {}, .extensions = {".sub"},
     .parse = parse_microdvd, .probe = probe_microdvd, .detect_rank = 9, .fallback_rank = 9,
     .retry_as = SUB_FORMAT_SUBVIEWER},
    {.id = SUB_FORMAT_SUBVIEWER, .name = "subviewer", .aliases = {}, .extensions = {},
     .parse = parse_subviewer, .probe = probe_subviewer, .detect_rank = 3, .fallback_rank = 4,
     .retry_as = SUB_FORMAT_AUTO},
    {.id = SUB_FORMAT_TTML, .name = "ttml", .aliases = {}, .extensions = {".ttml", ".dfxp"},
     .parse = parse_ttml, .probe = probe_ttml, .detect_rank = 6, .fallback_rank = 6, .retry_as = SUB_FORMAT_AUTO,
     .lead = lead_ttml},
    {.id = SUB_FORMAT_YTXML, .name = "ytxml", .aliases = {}, .extensions = {".xml"},
     .parse = parse_ytxml, .probe = probe_ytxml, .detect_rank = 7, .fallback_rank = 7,
     .retry_as = SUB_FORMAT_BILIBILI},
    {.id = SUB_FORMAT_LRC, .name = "lrc", .aliases = {}, .extensions = {".lrc"},
     .parse = parse_lrc, .probe = probe_lrc, .detect_rank = 8, .fallback_rank = 8, .retry_as = SUB_FORMAT_AUTO,
     .lead = lead_lrc},
    {.id = SUB_FORMAT_SAMI, .name = "sami", .aliases = {"smi"}, .extensions = {".smi", ".sami"},
     .parse = parse_sami, .probe = probe_sami, .detect_rank = 4, .fallback_rank = 3, .retry_as = SUB_FORMAT_AUTO,
     .markup = Markup::Html, .tags = "i b u s font p span br div ruby rt rp sync"},
    {.id = SUB_FORMAT_BILIBILI, .name = "bilibili", .aliases = {}, .extensions = {},
     .parse = parse_bilibili, .probe = probe_bilibili, .detect_rank = 5, .fallback_rank = 5,
     .retry_as = SUB_FORMAT_AUTO, .danmaku = true},
    {.id = SUB_FORMAT_ACFUN, .name = "acfun", .aliases = {}, .extensions = {".json"},
     .parse = parse_acfun, .probe = probe_acfun, .detect_rank = 10, .fallback_rank = 10,
     .retry_as = SUB_FORMAT_AUTO, .danmaku = true},
}};

constexpr bool table_is_indexed_by_id() {
    for (size_t i = 0; i < kFormats.size(); ++i)
        if (kFormats[i].id != static_cast<sub_format>(i)) return false;
    return true;
}
static_assert(table_is_indexed_by_id());

// The identifiers ordered by one rank column; every rank from 1 to the table's size must
// occur exactly once, which the static_asserts below check by the order being complete.
template <int FormatInfo::*Rank>
constexpr std::array<sub_format, SUB_FORMAT_COUNT> order_by() {
    std::array<sub_format, SUB_FORMAT_COUNT> order{};
    order.fill(SUB_FORMAT_AUTO);
    for (const FormatInfo& f : kFormats) {
        const int rank = f.*Rank;
        if (rank >= 1 && rank <= SUB_FORMAT_COUNT && order[static_cast<size_t>(rank - 1)] == SUB_FORMAT_AUTO)
            order[static_cast<size_t>(rank - 1)] = f.id;
    }
    return order;
}
constexpr bool complete(const std::array<sub_format, SUB_FORMAT_COUNT>& order) {
    for (const sub_format id : order)
        if (id == SUB_FORMAT_AUTO) return false;
    return true;
}
constexpr auto kDetectionOrder = order_by<&FormatInfo::detect_rank>();
constexpr auto kFallbackOrder = order_by<&FormatInfo::fallback_rank>();
static_assert(complete(kDetectionOrder), "detection ranks must be 1 to SUB_FORMAT_COUNT, each once");
static_assert(complete(kFallbackOrder), "fallback ranks must be 1 to SUB_FORMAT_COUNT, each once");

} // namespace

std::span<const FormatInfo> formats() { return kFormats; }
std::span<const sub_format> detection_order() { return kDetectionOrder; }
std::span<const sub_format> fallback_order() { return kFallbackOrder; }

const FormatInfo* format_info(int id) {
    if (id < 0 || static_cast<size_t>(id) >= kFormats.size()) return nullptr;
    return &kFormats[static_cast<size_t>(id)];
}

const char* format_name(int id) {
    if (id == SUB_FORMAT_AUTO) return "auto";
    const FormatInfo* f = format_info(id);
    return f ? f->name : "unknown";
}

int format_from_name(const char* name) {
    if (!name) return SUB_FORMAT_UNKNOWN;
    const std::string_view n(name);
    if (n == "auto") return SUB_FORMAT_AUTO;
    for (const FormatInfo& f : kFormats) {
        if (n == f.name) return f.id;
        for (const std::string_view a : f.aliases)
            if (!a.empty() && n == a) return f.id;
    }
    return SUB_FORMAT_UNKNOWN;
}

} // namespace cuekit
