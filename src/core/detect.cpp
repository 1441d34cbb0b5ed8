// Format detection from the first bytes of a file, with the file name's extension as the
// last resort. Reads the raw bytes (before decoding) and changes no state.
#include "core/core.hpp"

#include <cstring>

namespace cuekit {
namespace {

constexpr size_t kSampleMax = 8192;

int detect_content(std::string_view t) {
    for (const sub_format id : detection_order())
        if (const FormatInfo* f = format_info(id); f->lead && f->lead(t)) return id;
    for (const sub_format id : detection_order())
        if (const FormatInfo* f = format_info(id); f->probe && f->probe(t)) return id;
    return SUB_FORMAT_AUTO;
}

} // namespace

int ext_hint(const char* filename) {
    if (!filename) return SUB_FORMAT_AUTO;
    const char* dot = std::strrchr(filename, '.');
    if (!dot) return SUB_FORMAT_AUTO;
    const std::string_view ext(dot);
    for (const FormatInfo& f : formats())
        for (const std::string_view e : f.extensions)
            if (!e.empty() && ieq(ext, e)) return f.id;
    return SUB_FORMAT_AUTO;
}

int detect_format(const void* data, size_t len, const char* filename) {
    if (!data) return len != 0 ? SUB_FORMAT_AUTO : ext_hint(filename);
    std::string_view sample(static_cast<const char*>(data), len);
    if (sample.starts_with("\xEF\xBB\xBF"))
        sample.remove_prefix(3); // with a byte-order mark the whole file is searched
    else
        sample = sample.substr(0, kSampleMax);
    // The sample is searched as a C string: a zero byte ends it.
    const std::string_view text = trim_left(until_nul(sample));
    const int found = detect_content(text);
    return found != SUB_FORMAT_AUTO ? found : ext_hint(filename);
}

} // namespace cuekit
