// Placeholder until the AcFun parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_acfun(sub_state& st, std::string_view) {
    set_error(st, "acfun parser not built yet");
    return 5;
}

} // namespace cuekit
