// The JSON result document, written with yyjson. Lines that are not valid UTF-8 (the decoder
// lets a few invalid bytes through) are written with U+FFFD for each ill-formed part, so the
// document is never refused for a line's content; the accessors keep the bytes as they are.
#include "internal.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <yyjson.h>

namespace cuekit {
namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 with `bad` set to the length of
// the maximal ill-formed subpart there (at least 1).
size_t utf8_sequence(std::string_view s, size_t i, size_t& bad) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size() || b(i + k) < lo || b(i + k) > hi) {
            bad = k;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

bool is_valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        // ASCII runs are the common case: skip them eight bytes at a time.
        while (i + 8 <= s.size()) {
            uint64_t chunk;
            std::memcpy(&chunk, s.data() + i, 8);
            if (chunk & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= s.size()) break;
        size_t bad = 0;
        const size_t n = utf8_sequence(s, i, bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string replace_ill_formed(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 16);
    size_t i = 0;
    while (i < s.size()) {
        size_t bad = 0;
        const size_t n = utf8_sequence(s, i, bad);
        if (n) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            out.append("\xEF\xBF\xBD");
            i += bad;
        }
    }
    return out;
}

struct DocOwner {
    yyjson_mut_doc* doc;
    ~DocOwner() { yyjson_mut_doc_free(doc); }
};

// Fills the document; false as soon as any value cannot be allocated, so that a document
// with silently missing cues or lines is never written.
bool fill(yyjson_mut_doc* doc, const sub_state& st) {
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_val* cues = yyjson_mut_arr(doc);
    if (!root || !cues) return false;
    yyjson_mut_doc_set_root(doc, root);
    if (!yyjson_mut_obj_add_str(doc, root, "format", format_name(st.format)) ||
        !yyjson_mut_obj_add_val(doc, root, "cues", cues))
        return false;

    for (int32_t i = 0; i < st.count; ++i) {
        const sub_cue& c = st.cues[i];
        yyjson_mut_val* obj = yyjson_mut_obj(doc);
        yyjson_mut_val* lines = yyjson_mut_arr(doc);
        if (!obj || !lines || !yyjson_mut_obj_add_int(doc, obj, "start", c.start_ms) ||
            !yyjson_mut_obj_add_int(doc, obj, "end", c.end_ms))
            return false;
        for (int32_t j = 0; j < c.lines.count; ++j) {
            const std::string_view line(c.lines.items[j]);
            // Valid lines are referenced, not copied: the state outlives the document.
            bool added = false;
            if (is_valid_utf8(line)) {
                added = yyjson_mut_arr_add_strn(doc, lines, line.data(), line.size());
            } else {
                const std::string fixed = replace_ill_formed(line);
                added = yyjson_mut_arr_add_strncpy(doc, lines, fixed.data(), fixed.size());
            }
            if (!added) return false;
        }
        if (!yyjson_mut_obj_add_val(doc, obj, "lines", lines)) return false;
        if (c.is_danmu && (!yyjson_mut_obj_add_bool(doc, obj, "danmu", true) ||
                           !yyjson_mut_obj_add_int(doc, obj, "mode", c.mode) ||
                           !yyjson_mut_obj_add_uint(doc, obj, "color", c.color) ||
                           !yyjson_mut_obj_add_real(doc, obj, "fontsize", static_cast<double>(c.fontsize))))
            return false;
        if (!yyjson_mut_arr_append(cues, obj)) return false;
    }
    return true;
}

} // namespace

int build_json(sub_state& st) {
    std::free(st.json);
    st.json = nullptr;
    DocOwner owner{yyjson_mut_doc_new(nullptr)};
    yyjson_mut_doc* doc = owner.doc;
    if (!doc) return -1;
    try {
        if (!fill(doc, st)) return -1;
    } catch (const std::bad_alloc&) { // the repaired copy of an ill-formed line
        return -1;
    }
    st.json = yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
    return st.json ? 0 : -1;
}

} // namespace cuekit
