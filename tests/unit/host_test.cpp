// The front ends' file reading: a mapped file cut short by another process reads as zeros
// and says so instead of raising SIGBUS; an endless stream is refused in bounded memory;
// bytes that are plainly not text are named.
#include "host/input.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string temp_file(const std::string& bytes) {
    std::string path = ::testing::TempDir() + "cuekit_host_XXXXXX";
    const int fd = mkstemp(path.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return path;
}

TEST(HostInput, TruncatedMappingReadsAsZerosAndSaysSo) {
    for (const bool cut : {false, true}) {
        const std::string bytes(3 << 20, 'x');
        const std::string path = temp_file(bytes);
        host::FileBytes file;
        std::string why;
        ASSERT_TRUE(file.load(path, why)) << why;
        const std::shared_ptr<const host::Mapping> m = file.take_mapping();
        ASSERT_TRUE(m) << "a file of 3 MiB is mapped";
        if (cut) {
            ASSERT_EQ(truncate(path.c_str(), 1 << 20), 0);
        }
        std::size_t xs = 0;
        for (std::size_t i = 0; i < m->size(); ++i) xs += m->data()[i] == 'x';
        EXPECT_EQ(m->changed(), cut);
        EXPECT_EQ(xs, cut ? std::size_t{1} << 20 : bytes.size());
        std::remove(path.c_str());
    }
}

TEST(HostInput, EndlessNulStreamIsTooLarge) {
    host::FileBytes file;
    std::string why;
    EXPECT_FALSE(file.load("/dev/zero", why));
    EXPECT_EQ(file.error_number(), EFBIG) << why;
}

TEST(HostInput, NotText) {
    const struct {
        std::string bytes;
        const char* says; // a word of the description, or null for text
    } cases[] = {
        {std::string("\x1F\x8B\x08\x00", 4), "gzip"},
        {"PK\x03\x04rest", "zip"},
        {"\x89PNG\r\n\x1A\n....", "PNG"},
        {"\xFF\xD8\xFF\xE0", "JPEG"},
        {std::string(100, '\0'), "NUL"},
        {std::string("1\0\n\0" "0\0:\0", 8), nullptr}, // UTF-16 without a mark
        {"1\n00:00:01,000 --> 00:00:02,000\nhi\n", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const char* got = host::not_text(c.bytes);
        if (!c.says) {
            EXPECT_EQ(got, nullptr) << got;
        } else {
            EXPECT_TRUE(got && std::string(got).find(c.says) != std::string::npos) << c.says;
        }
    }
}

} // namespace
