// sub_parse on arbitrary bytes. The first byte picks the format (automatic or any identifier)
// and the encoding name; the rest is the file. Any broken invariant aborts, so libFuzzer keeps the input.
#include "invariants.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cuekit_invariants;
    if (size == 0) return 0;
    const int format = format_choice(data[0]);
    const char* encoding = encoding_choice(data[0]);
    const int rc = sub_parse(data + 1, size - 1, format, encoding);
    if (const std::string why = check_parse_result(rc); !why.empty()) fail(why, format, encoding);
    sub_clear();
    if (const std::string why = check_cleared(); !why.empty()) fail(why, format, encoding);
    return 0;
}
