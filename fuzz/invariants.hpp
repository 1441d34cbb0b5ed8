// What must hold after any call of the C interface, whatever the input: shared by the fuzz
// harnesses (which abort on a violation) and the hostile-input tests (which report it).
// Every check reads the state only through the public accessors, as a caller would, and
// returns a description of the first violation, or an empty string.
#pragma once

#include <cuekit.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <yyjson.h>

namespace cuekit_invariants {

// The encoding names the tool accepts, plus one that no converter knows.
inline constexpr const char* kEncodings[] = {
    nullptr, "utf-8", "utf-16le", "utf-16be",  "utf-16", "cp1251", "cp1252", "latin1",
    "gbk",   "gb18030", "big5",   "shift_jis", "koi8-r", "detect", "foo",
};
inline constexpr int kEncodingCount = static_cast<int>(sizeof kEncodings / sizeof kEncodings[0]);

// How the first byte of a fuzz input picks the format (automatic, then every identifier) and
// the encoding name; the seed corpus and the tests that replay it read it the same way.
inline constexpr int kFormatChoices = SUB_FORMAT_COUNT + 1;
inline int format_choice(unsigned char b) { return b % kFormatChoices + SUB_FORMAT_AUTO; }
inline const char* encoding_choice(unsigned char b) { return kEncodings[(b / kFormatChoices) % kEncodingCount]; }

// Byte sequence check as strict as a JSON reader's: no overlongs, surrogates or values past
// U+10FFFF.
inline bool valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            lo = c == 0xE0 ? 0xA0 : 0x80;
            hi = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            lo = c == 0xF0 ? 0x90 : 0x80;
            hi = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        for (size_t k = 1; k <= need; ++k) {
            if (i + k >= s.size()) return false;
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < lo || b > hi) return false;
            lo = 0x80;
            hi = 0xBF;
        }
        i += need + 1;
    }
    return true;
}

struct DocFree {
    void operator()(yyjson_doc* d) const { yyjson_doc_free(d); }
};

inline std::string at(int i, std::string_view what) { return "cue " + std::to_string(i) + ": " + std::string(what); }

// The JSON text of a successful parse, read back, against the accessors. A document that
// could not be built reads "{}", which only running out of memory may explain.
inline std::string check_json(bool out_of_memory_allowed) {
    const char* json = sub_result_json();
    if (!json) return "sub_result_json returned null";
    if (std::strcmp(json, "{}") == 0) return out_of_memory_allowed ? std::string() : "success without a JSON document";
    const std::unique_ptr<yyjson_doc, DocFree> doc(yyjson_read(json, std::strlen(json), 0));
    if (!doc) return "JSON text does not parse";
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) return "JSON root is no object";
    yyjson_val* format = yyjson_obj_get(root, "format");
    if (!yyjson_is_str(format) || std::strcmp(yyjson_get_str(format), sub_format_name(sub_detected_format())) != 0)
        return "JSON format differs from sub_detected_format";
    yyjson_val* cues = yyjson_obj_get(root, "cues");
    if (!yyjson_is_arr(cues)) return "JSON cues is no array";
    if (yyjson_arr_size(cues) != static_cast<size_t>(sub_cue_count())) return "JSON cue count differs";
    for (int i = 0; i < sub_cue_count(); ++i) {
        yyjson_val* c = yyjson_arr_get(cues, static_cast<size_t>(i));
        if (!yyjson_is_obj(c)) return at(i, "JSON cue is no object");
        yyjson_val* start = yyjson_obj_get(c, "start");
        yyjson_val* end = yyjson_obj_get(c, "end");
        if (!yyjson_is_int(start) || yyjson_get_sint(start) != sub_cue_start_ms(i)) return at(i, "JSON start differs");
        if (!yyjson_is_int(end) || yyjson_get_sint(end) != sub_cue_end_ms(i)) return at(i, "JSON end differs");
        yyjson_val* lines = yyjson_obj_get(c, "lines");
        if (!yyjson_is_arr(lines) || yyjson_arr_size(lines) != static_cast<size_t>(sub_cue_line_count(i)))
            return at(i, "JSON line count differs");
        for (int j = 0; j < sub_cue_line_count(i); ++j) {
            yyjson_val* l = yyjson_arr_get(lines, static_cast<size_t>(j));
            if (!yyjson_is_str(l)) return at(i, "JSON line is no string");
            const std::string_view line = sub_cue_line(i, j);
            // Ill-formed lines are written with replacement characters: only valid ones compare.
            if (valid_utf8(line) && std::string_view(yyjson_get_str(l), yyjson_get_len(l)) != line)
                return at(i, "JSON line differs");
        }
        yyjson_val* danmu = yyjson_obj_get(c, "danmu");
        if (sub_cue_is_danmu(i) == 0) {
            if (danmu) return at(i, "JSON has danmu members for a subtitle cue");
            continue;
        }
        yyjson_val* mode = yyjson_obj_get(c, "mode");
        yyjson_val* color = yyjson_obj_get(c, "color");
        yyjson_val* size = yyjson_obj_get(c, "fontsize");
        if (!yyjson_is_true(danmu)) return at(i, "JSON danmu is not true");
        if (!yyjson_is_int(mode) || yyjson_get_sint(mode) != sub_cue_danmu_mode(i)) return at(i, "JSON mode differs");
        if (!yyjson_is_int(color) || yyjson_get_uint(color) != sub_cue_danmu_color(i)) return at(i, "JSON color differs");
        if (!yyjson_is_num(size) || yyjson_get_num(size) != static_cast<double>(sub_cue_danmu_fontsize(i)))
            return at(i, "JSON fontsize differs");
    }
    return {};
}

// The state after sub_parse returned `rc`. `out_of_memory_allowed`: an allocation may
// have failed, so a successful parse may lack its JSON document and warning texts.
inline std::string check_parse_result(int rc, bool out_of_memory_allowed = false) {
    if (rc < SUB_OK || rc > SUB_ERR_PARSE) return "result code " + std::to_string(rc) + " outside 0..5";
    if (!sub_last_error() || std::strlen(sub_last_error()) >= 512) return "error text unterminated";
    if (sub_warning_count() < 0 || sub_warning_count() > 64) return "warning count outside 0..64";
    for (int i = 0; i < sub_warning_count(); ++i)
        if (const char* w = sub_warning(i); !w ? !out_of_memory_allowed : std::strlen(w) > 255)
            return "warning missing or longer than 255 bytes";
    if (rc != SUB_OK) {
        if (std::strcmp(sub_result_json(), "{}") != 0) return "failed parse left a JSON text";
        return {};
    }
    if (sub_cue_count() < 1) return "success with no cue";
    if (sub_detected_format() < 0 || sub_detected_format() >= SUB_FORMAT_COUNT) return "success without a format";
    for (int i = 0; i < sub_cue_count(); ++i) {
        if (sub_cue_line_count(i) < 0) return at(i, "negative line count");
        for (int j = 0; j < sub_cue_line_count(i); ++j) {
            const char* line = sub_cue_line(i, j);
            if (!line) return at(i, "null line");
            (void)std::strlen(line); // must be readable up to its NUL
        }
        if (sub_cue_is_danmu(i) && !std::isfinite(sub_cue_danmu_fontsize(i))) return at(i, "font size not finite");
    }
    return check_json(out_of_memory_allowed);
}

// A result's document written through a sink, against `whole` (the document in one piece):
// streamed in full it must be the same bytes; with a sink that refuses the piece reaching
// byte `refusal` / 256 of the document, the write must report the failure and have handed
// on only a part of the document.
template <typename Result>
std::string check_streamed_json(const Result& r, std::string_view whole, unsigned char refusal) {
    struct Sink {
        std::string got;
        size_t limit;
    };
    auto take = [](void* context, const char* data, size_t size) {
        auto& k = *static_cast<Sink*>(context);
        if (k.got.size() + size > k.limit) return false;
        k.got.append(data, size);
        return true;
    };
    Sink full{{}, SIZE_MAX};
    if (!r.write_json(take, &full)) return "streamed document reported a failure";
    if (full.got != whole) return "streamed document differs from the whole one";
    if (r.json() != whole) return "document written on request differs";
    Sink cut{{}, whole.size() * refusal / 256};
    if (r.write_json(take, &cut)) return "a refused sink was reported as written";
    if (cut.got.size() >= whole.size() || whole.substr(0, cut.got.size()) != cut.got)
        return "a refused sink got more than a beginning of the document";
    return {};
}

// sub_clear must leave the state as a fresh process has it.
inline std::string check_cleared() {
    if (sub_cue_count() != 0) return "cues left after sub_clear";
    if (sub_warning_count() != 0) return "warnings left after sub_clear";
    if (sub_detected_format() != SUB_FORMAT_AUTO) return "format left after sub_clear";
    if (std::strcmp(sub_result_json(), "{}") != 0) return "JSON left after sub_clear";
    if (sub_last_error()[0] != '\0') return "error text left after sub_clear";
    return {};
}

// Reports a broken invariant of a parse and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const std::string& why, int format, const char* encoding) {
    std::fprintf(stderr, "invariant broken (format %d, encoding %s): %s\n", format, encoding ? encoding : "(null)",
                 why.c_str());
    std::abort();
}

} // namespace cuekit_invariants
