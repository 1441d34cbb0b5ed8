// Placeholder until the TTML parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_ttml(sub_state& st, std::string_view) {
    set_error(st, "ttml parser not built yet");
    return 5;
}

} // namespace cuekit
