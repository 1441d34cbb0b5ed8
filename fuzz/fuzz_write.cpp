// Parse arbitrary bytes, change the times, then write every target and read each written text
// back. The first byte picks the format and encoding as in fuzz_parse, the second the write
// options and the time change. Writing a parsed result must always succeed (or run out of
// memory), the text must hold no NUL, and the target's own reader must give back the same
// cues, within the rounding the target has.
#include "invariants.hpp"
#include "round_trip.hpp"

#include <cuekit.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char* target, const char* why) {
    std::fprintf(stderr, "write invariant broken (%s): %s\n", target, why);
    std::abort();
}

struct Target {
    const char* name;
    int reads_as; // -2: not read back
};
constexpr Target kTargets[] = {{"srt", 0}, {"vtt", 1}, {"ass", 2}, {"ttml", 5}, {"lrc", 7}, {"txt", -2}, {"json", -2}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cuekit_invariants;
    if (size < 2) return 0;
    const int format = format_choice(data[0]);
    const char* encoding = encoding_choice(data[0]);
    const uint8_t knobs = data[1];
    if (sub_parse(data + 2, size - 2, format, encoding) != 0) {
        sub_clear();
        return 0;
    }
    if (knobs & 4) sub_retime((knobs & 8) ? -2500 : 700, (knobs & 16) ? 23.976 : 0, (knobs & 16) ? 25 : 0);
    sub_write_options opts;
    sub_write_options_init(&opts);
    opts.strip = knobs & 1;
    opts.danmaku_overlap = knobs & 2;
    if (knobs & 32) {
        opts.canvas_width = 16;
        opts.canvas_height = 16;
    }
    if (sub_write_options_check(&opts)) fail("options", "valid options refused");
    const int cues = sub_cue_count();
    // The cues written, as the round-trip check takes them.
    std::vector<cuekit_round_trip::Written> written;
    const int source = sub_detected_format();
    for (int i = 0; i < cues; ++i) {
        std::vector<std::string_view> lines;
        for (int j = 0; j < sub_cue_line_count(i); ++j) lines.emplace_back(sub_cue_line(i, j));
        written.push_back({sub_cue_start_ms(i), sub_cue_end_ms(i), cuekit_round_trip::normal_text(lines, source)});
    }
    const bool danmaku = source == SUB_FORMAT_BILIBILI || source == SUB_FORMAT_ACFUN;
    for (const Target& t : kTargets) {
        char* out = nullptr;
        size_t len = 0;
        const char* name = sub_target_name(sub_target_from_name(t.name));
        if (!name || std::strcmp(name, t.name) != 0) fail(t.name, "target not found by name");
        const int rc = sub_write(t.name, &opts, &out, &len);
        if (rc == 4) continue;
        if (rc != 0 || !out) fail(t.name, "a parsed result could not be written");
        if (std::strlen(out) != len) fail(t.name, "NUL inside the written text");
        std::string text(out, len);
        std::free(out);
        if (t.reads_as < -1 || cues == 0) continue;
        // Detection names the target, whatever the cue text quotes.
        if (sub_detect_format(text.data(), text.size(), nullptr) != t.reads_as) fail(t.name, "written text detected as another format");
        // Read back on a state of its own so the result being written stays.
        cuekit::Result back = cuekit::parse(text, static_cast<cuekit::Format>(t.reads_as));
        if (back.code() == 4) continue;
        const cuekit_round_trip::Target* rule = cuekit_round_trip::find(t.name);
        if (!rule || (danmaku && rule->name == "ass")) continue; // danmaku are laid out, some dropped
        const bool any = std::any_of(written.begin(), written.end(), [](const auto& w) { return !w.text.empty(); });
        if (back.code() != 0 && (back.code() != 5 || any)) fail(t.name, "written text not read back");
        if (back.code() != 0) continue;
        if (const std::string why = cuekit_round_trip::difference(written, *rule, back); !why.empty()) fail(t.name, why.c_str());
    }
    sub_clear();
    if (const std::string why = check_cleared(); !why.empty()) fail("clear", why.c_str());
    return 0;
}
