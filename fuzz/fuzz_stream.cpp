// The C++ interface on arbitrary bytes: parse_borrowed, and the result document written
// through a sink. The first byte picks the format and the encoding as for fuzz_parse, the
// second where a refusing sink says no; the rest is the file. Any broken invariant aborts,
// so libFuzzer keeps the input.
#include "invariants.hpp"

#include <cuekit.hpp>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cuekit_invariants;
    if (size < 2) return 0;
    const int format = format_choice(data[0]);
    const char* encoding = encoding_choice(data[0]);
    const unsigned char refusal = data[1];
    const std::string_view file(reinterpret_cast<const char*>(data + 2), size - 2);

    const cuekit::Result r = cuekit::parse_borrowed(file, static_cast<cuekit::Format>(format), encoding);
    const int rc = sub_parse(file.data(), file.size(), format, encoding);
    if (const std::string why = check_parse_result(rc); !why.empty()) fail(why, format, encoding);
    if (r.code() != rc) fail("parse_borrowed and sub_parse differ in their result code", format, encoding);
    if (const std::string why = check_streamed_json(r, sub_result_json(), refusal); !why.empty())
        fail(why, format, encoding);
    sub_clear();
    return 0;
}
