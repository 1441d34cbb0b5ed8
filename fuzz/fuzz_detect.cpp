// sub_detect_format on arbitrary bytes, with and without a file name: the first byte picks
// the name. Detection must answer automatic or an identifier and leave the parse state alone.
// The same bytes also go to sub_format_from_name.
#include "invariants.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kNames[] = {
    nullptr, "", "a.srt", "B.VTT", "x.ass", "x.SSA", "m.sub", "t.ttml", "t.dfxp", "y.xml",
    "l.lrc", "s.smi", "s.SAMI", "a.json", "noext", "dir.srt/file", "trailing.", ".", "a.b.c.webvtt",
};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* name = kNames[data[0] % kNameCount];
    const int before = sub_detected_format();
    const int found = sub_detect_format(data + 1, size - 1, name);
    if (found < SUB_FORMAT_AUTO || found >= SUB_FORMAT_COUNT) {
        std::fprintf(stderr, "detection answered %d\n", found);
        std::abort();
    }
    // A null pointer with a length must not be read.
    if (sub_detect_format(nullptr, size, name) < SUB_FORMAT_AUTO || sub_cue_count() != 0 || sub_detected_format() != before) {
        std::fprintf(stderr, "detection changed the parse state\n");
        std::abort();
    }
    // Any text as a format name: an identifier that names itself back, automatic, or unknown.
    const std::string name_text(reinterpret_cast<const char*>(data + 1), size - 1);
    const int id = sub_format_from_name(name_text.c_str());
    const bool round_trip = id >= 0 && id < SUB_FORMAT_COUNT && sub_format_from_name(sub_format_name(id)) == id;
    if (!round_trip && id != SUB_FORMAT_AUTO && id != SUB_FORMAT_UNKNOWN) {
        std::fprintf(stderr, "sub_format_from_name answered %d\n", id);
        std::abort();
    }
    return 0;
}
