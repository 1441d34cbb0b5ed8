// Placeholder until the SAMI parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_sami(sub_state& st, std::string_view) {
    set_error(st, "sami parser not built yet");
    return 5;
}

} // namespace cuekit
