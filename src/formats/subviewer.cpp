// Placeholder until the SubViewer parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_subviewer(sub_state& st, std::string_view) {
    set_error(st, "subviewer parser not built yet");
    return 5;
}

} // namespace cuekit
