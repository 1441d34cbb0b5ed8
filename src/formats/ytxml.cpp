// Placeholder until the YouTube parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_ytxml(sub_state& st, std::string_view) {
    set_error(st, "ytxml parser not built yet");
    return 5;
}

} // namespace cuekit
