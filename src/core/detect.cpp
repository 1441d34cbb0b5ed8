// Format detection from the first bytes of a file, with the file name's extension as the
// last resort. Reads the raw bytes (before decoding) and changes no state.
#include "internal.hpp"

#include <cstring>

namespace cuekit {
namespace {

constexpr size_t kSampleMax = 8192;

bool contains(std::string_view s, std::string_view needle) { return s.find(needle) != std::string_view::npos; }
bool icontains(std::string_view s, std::string_view needle) { return ifind(s, needle) != std::string_view::npos; }

bool looks_like_lrc(std::string_view t) {
    const bool tagged = contains(t, "[ti:") || contains(t, "[ar:") ||
                        (t.size() > 1 && is_digit(static_cast<unsigned char>(t[1])) && contains(t, ":"));
    return tagged && contains(t, "]") && (contains(t, "[0") || contains(t, "[1") || contains(t, "[ti"));
}

bool looks_like_microdvd(std::string_view t) {
    return contains(t, "}") && t.find('{', 1) != std::string_view::npos && t.size() > 1 &&
           (is_digit(static_cast<unsigned char>(t[1])) || t[1] == '-');
}

bool looks_like_acfun(std::string_view t) { return contains(t, "\"c\"") && contains(t, "\"m\""); }

int detect_content(std::string_view t) {
    if (t.starts_with("WEBVTT")) return 1;
    if (icontains(t, "[Script Info]") || icontains(t, "[V4+ Styles]") || icontains(t, "[Events]")) return 2;
    if (t.starts_with("[INFORMATION]")) return 4;
    if (icontains(t, "<SAMI") || icontains(t, "<SYNC ")) return 8;
    if (contains(t, "<d p=") || contains(t, "<d p =\"")) return 9;
    if (icontains(t, "<tt ") || icontains(t, "<tt>") || icontains(t, "ttml") || icontains(t, "<p begin=")) return 5;
    if (contains(t, "<text ") && contains(t, "start=") && contains(t, "dur=")) return 6;
    if (!t.empty() && (t[0] == '[' || t[0] == '{')) {
        if (t[0] == '[' && looks_like_lrc(t)) return 7;
        if (looks_like_microdvd(t)) return 3;
        if (looks_like_acfun(t)) return 10;
    }
    if (contains(t, "-->") || contains(t, "- >") || contains(t, "->")) return 0;
    return -1;
}

} // namespace

int ext_hint(const char* filename) {
    if (!filename) return -1;
    const char* dot = std::strrchr(filename, '.');
    if (!dot) return -1;
    const std::string_view ext(dot);
    for (const FormatInfo& f : formats())
        for (const std::string_view e : f.extensions)
            if (!e.empty() && ieq(ext, e)) return f.id;
    return -1;
}

int detect_format(const void* data, size_t len, const char* filename) {
    if (!data) return len != 0 ? -1 : ext_hint(filename);
    std::string_view sample(static_cast<const char*>(data), len);
    if (sample.starts_with("\xEF\xBB\xBF"))
        sample.remove_prefix(3); // with a byte-order mark the whole file is searched
    else
        sample = sample.substr(0, kSampleMax);
    // The sample is searched as a C string: a zero byte ends it.
    const std::string_view text = trim_left(until_nul(sample));
    const int found = detect_content(text);
    return found != -1 ? found : ext_hint(filename);
}

} // namespace cuekit
