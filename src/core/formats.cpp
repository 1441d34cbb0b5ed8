// The one table of formats: dispatch, names, extension hints and second chances all read
// from it. A .sub file may be SubViewer rather than MicroDVD, an .xml file Bilibili danmaku
// rather than YouTube captions, hence their second chances.
#include "internal.hpp"

namespace cuekit {
namespace {

constexpr std::array<FormatInfo, 11> kFormats{{
    {0, "srt", parse_srt, {".srt", ""}, -1},
    {1, "vtt", parse_vtt, {".vtt", ".webvtt"}, -1},
    {2, "ass", parse_ass, {".ass", ".ssa"}, -1},
    {3, "microdvd", parse_microdvd, {".sub", ""}, 4},
    {4, "subviewer", parse_subviewer, {"", ""}, -1},
    {5, "ttml", parse_ttml, {".ttml", ".dfxp"}, -1},
    {6, "ytxml", parse_ytxml, {".xml", ""}, 9},
    {7, "lrc", parse_lrc, {".lrc", ""}, -1},
    {8, "sami", parse_sami, {".smi", ".sami"}, -1},
    {9, "bilibili", parse_bilibili, {"", ""}, -1},
    {10, "acfun", parse_acfun, {".json", ""}, -1},
}};

constexpr bool table_is_indexed_by_id() {
    for (size_t i = 0; i < kFormats.size(); ++i)
        if (kFormats[i].id != static_cast<sub_format>(i)) return false;
    return true;
}
static_assert(table_is_indexed_by_id());

} // namespace

std::span<const FormatInfo> formats() { return kFormats; }

const FormatInfo* format_info(int id) {
    if (id < 0 || static_cast<size_t>(id) >= kFormats.size()) return nullptr;
    return &kFormats[static_cast<size_t>(id)];
}

const char* format_name(int id) {
    if (id == -1) return "auto";
    const FormatInfo* f = format_info(id);
    return f ? f->name : "unknown";
}

} // namespace cuekit
