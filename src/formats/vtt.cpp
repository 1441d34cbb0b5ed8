// Placeholder until the WebVTT parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_vtt(sub_state& st, std::string_view) {
    set_error(st, "vtt parser not built yet");
    return 5;
}

} // namespace cuekit
