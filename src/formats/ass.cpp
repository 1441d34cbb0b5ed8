// Placeholder until the ASS parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_ass(sub_state& st, std::string_view) {
    set_error(st, "ass parser not built yet");
    return 5;
}

} // namespace cuekit
