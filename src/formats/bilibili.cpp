// Placeholder until the Bilibili parser is built.
#include "internal.hpp"

namespace cuekit {

int parse_bilibili(sub_state& st, std::string_view) {
    set_error(st, "bilibili parser not built yet");
    return 5;
}

} // namespace cuekit
