// AcFun danmaku: a JSON document in which every object with string members "c"
// (time,colour,mode,size,...) and "m" (the text) is one comment, wherever it stands.
#include "formats/danmaku.hpp"

#include <yyjson.h>

#include <algorithm>
#include <memory>

namespace cuekit {
namespace {

// Containers at this depth (the root has depth 0) are not looked into.
constexpr int kMaxDepth = 5;

struct DocFree {
    void operator()(yyjson_doc* d) const { yyjson_doc_free(d); }
};

std::string_view str_view(yyjson_val* v) { return {yyjson_get_str(v), yyjson_get_len(v)}; }

// 1 when `obj` is a danmaku object and its cue was added, else 0. yyjson_obj_get returns the
// first member with the key, so a repeated key counts by its first occurrence.
int acfun_add_from_obj(Store& st, yyjson_val* obj) {
    if (!yyjson_is_obj(obj) || yyjson_obj_size(obj) == 0) return 0;
    yyjson_val* c = yyjson_obj_get(obj, "c");
    yyjson_val* m = yyjson_obj_get(obj, "m");
    if (!yyjson_is_str(c) || !yyjson_is_str(m)) return 0;
    const DanmakuTokens tok(str_view(c));
    if (tok.count() == 0) return 0;

    DanmakuStyle style;
    // A comment cannot appear before the video starts.
    const int32_t start_ms = std::max(danmaku_time_ms(tok[0]), int32_t{0});
    if (tok[1]) style.color = danmaku_color(tok[1]);
    if (tok[2]) style.mode = danmaku_mode(tok[2]);
    if (tok[3]) style.fontsize = danmaku_fontsize(tok[3], style.fontsize);
    return add_danmaku(st, start_ms, style, str_view(m)) ? 1 : 0;
}

// Cues added from `v` and everything it holds, depth first in document order.
int acfun_walk(Store& st, yyjson_val* v, int depth) {
    if (!v || depth >= kMaxDepth) return 0;
    int n = 0;
    if (yyjson_is_arr(v)) {
        yyjson_arr_iter it = yyjson_arr_iter_with(v);
        while (yyjson_val* e = yyjson_arr_iter_next(&it)) {
            if (yyjson_is_obj(e)) {
                // An array element that is a comment is not looked into.
                if (acfun_add_from_obj(st, e) == 1)
                    ++n;
                else
                    n += acfun_walk(st, e, depth + 1);
            } else if (yyjson_is_arr(e)) {
                n += acfun_walk(st, e, depth + 1);
            }
        }
    } else if (yyjson_is_obj(v)) {
        // An object reached as the root or as a member value is searched even when it is a
        // comment itself.
        n += acfun_add_from_obj(st, v);
        yyjson_obj_iter it = yyjson_obj_iter_with(v);
        while (yyjson_val* key = yyjson_obj_iter_next(&it)) {
            yyjson_val* member = yyjson_obj_iter_get_val(key);
            if (yyjson_is_ctn(member)) n += acfun_walk(st, member, depth + 1);
        }
    }
    return n;
}

} // namespace

bool probe_acfun(std::string_view t) {
    return (t.starts_with('[') || t.starts_with('{')) && contains(t, "\"c\"") && contains(t, "\"m\"");
}

int parse_acfun(Store& st, std::string_view text) {
    // Flags 0: strict JSON; the library copies the text and leaves it as it is. The whole
    // length is passed, so a NUL inside makes the document invalid instead of cutting it.
    yyjson_read_err err{};
    const std::unique_ptr<yyjson_doc, DocFree> doc(
        yyjson_read_opts(const_cast<char*>(text.data()), text.size(), 0, nullptr, &err));
    if (!doc) {
        if (err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) return SUB_ERR_NOMEM; // not the document's fault
        set_error(st, "Acfun: invalid JSON");
        return SUB_ERR_PARSE;
    }
    const bool found = acfun_walk(st, yyjson_doc_get_root(doc.get()), 0) > 0;
    return finish_parse(st, SUB_FORMAT_ACFUN, found, "no Acfun danmaku");
}

} // namespace cuekit
