// Placeholder until the MicroDVD parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_microdvd(sub_state& st, std::string_view) {
    set_error(st, "microdvd parser not built yet");
    return 5;
}

} // namespace cuekit
