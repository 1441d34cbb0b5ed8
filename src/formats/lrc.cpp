// Placeholder until the LRC parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_lrc(sub_state& st, std::string_view) {
    set_error(st, "lrc parser not built yet");
    return 5;
}

} // namespace cuekit
