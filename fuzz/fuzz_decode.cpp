// sub_decode_to_utf8 on arbitrary bytes; the first byte picks the encoding name. The result
// must be 0, 2 or 4, a success must leave a NUL-terminated text within the converter's
// budget, and a failure must leave no text. The bytes quoted as a JSON string are one.
#include "invariants.hpp"

#include <cuekit.hpp>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* why, const char* encoding) {
    std::fprintf(stderr, "invariant broken (encoding %s): %s\n", encoding ? encoding : "(null)", why);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cuekit_invariants;
    if (size == 0) return 0;
    const char* encoding = kEncodings[data[0] % kEncodingCount];
    const size_t n = size - 1;
    sub_clear();
    const int rc = sub_decode_to_utf8(data + 1, n, encoding);
    if (rc != 0 && rc != 2 && rc != 4) fail("result outside 0, 2, 4", encoding);
    if (rc == 0) {
        if (!g_sub.text) fail("success without a text", encoding);
        if (g_sub.text_len > 4 * static_cast<uint64_t>(n) + 15) fail("text longer than the budget", encoding);
        if (g_sub.text[g_sub.text_len] != '\0') fail("text not NUL-terminated", encoding);
        // Without a name or a mark, (nearly) valid UTF-8 passes byte for byte.
        if (!encoding && n > 0 && data[1] < 0x80 && valid_utf8({reinterpret_cast<const char*>(data + 1), n}) &&
            (g_sub.text_len != n || std::memcmp(g_sub.text, data + 1, n) != 0))
            fail("valid UTF-8 changed", encoding);
    } else if (g_sub.text) {
        fail("failure left a text", encoding);
    }
    if (g_sub.warning_count < 0 || g_sub.warning_count > 64) fail("warning count outside 0..64", encoding);
    sub_clear();
    // The same bytes quoted as a JSON string: well-formed UTF-8 in quotes, whatever they hold.
    const std::string quoted = cuekit::json_quoted({reinterpret_cast<const char*>(data + 1), n});
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"' || !valid_utf8(quoted))
        fail("quoted text not a well-formed JSON string", encoding);
    return 0;
}
