// A file mapped into memory that another process may truncate while it is mapped. The pages
// past the new end then read as zeros instead of ending the process with SIGBUS, and
// changed() tells the reader to throw away whatever it made of the bytes.
#pragma once

#include <cstddef>
#include <memory>

namespace host {

class Mapping {
public:
    // Maps the first `size` bytes of `fd` (size > 0), read-only. Null when the system will
    // not map the file, or when as many mappings as can be guarded are open already: the
    // caller reads the file instead.
    static std::unique_ptr<Mapping> map(int fd, std::size_t size);
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // True once a read found the file shorter than it was when mapped.
    bool changed() const;

private:
    Mapping(const char* data, std::size_t size, std::size_t slot) : data_(data), size_(size), slot_(slot) {}
    const char* data_;
    std::size_t size_;
    std::size_t slot_;
};

} // namespace host
