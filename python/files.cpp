#include "files.hpp"

#include <cerrno>
#include <new>
#include <string_view>

namespace cuekit::py {

FileParse parse_path(const std::string& path, Format format, const char* encoding, host::FileBytes& file) noexcept {
    FileParse out;
    try {
        // "-" is the tool's name for standard input; here it is a file of that name.
        if (!file.load(path == "-" ? "./-" : path, out.sys_message)) {
            out.no_memory = file.error_number() == ENOMEM;
            out.sys_error = file.error_number();
            return out;
        }
        const std::string_view bytes(file.data(), file.size());
        const Format f = format == Format::Auto ? detect_format(bytes, path.c_str()) : format;
        out.result = parse(bytes, f, encoding);
        file.reset();
    } catch (const std::bad_alloc&) {
        out.no_memory = true;
    }
    return out;
}

} // namespace cuekit::py
