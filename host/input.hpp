// The files the front ends read: paths and folders expanded into a list, and one file's bytes.
#pragma once

#include "host/buffer.hpp"
#include "host/mapping.hpp"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// One file to read: a path, or "-" for standard input. A folder that could not be listed is
// carried as an input with the reason in `error`, so that it is reported in its place.
struct Input {
    std::string path;
    std::string error;
};

// The paths in order, each folder replaced by the regular files under it (links to them
// included) whose extension names a format: walked recursively, each folder's entries sorted
// by name (byte order), links to folders not followed. `walked` tells whether any path was a
// folder.
std::vector<Input> collect_inputs(const std::vector<std::string_view>& paths, bool& walked);

// What bytes that are plainly not text look like ("this looks like gzip data; decompress it
// first"), for a failed parse to say; null when they may well be text.
const char* not_text(std::string_view bytes);

// The whole of one file: a large regular file mapped (no copy through a read buffer),
// anything else read into a buffer that is kept for the next file. A file whose size the
// system does not tell (a pipe, a terminal, a character device) is read to its end.
class FileBytes {
public:
    // A process that would rather not install a SIGBUS handler (a language binding) passes
    // false: a mapped file truncated while it is read raises SIGBUS.
    explicit FileBytes(bool map_large = true) : map_large_(map_large) {}
    ~FileBytes() { reset(); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    const char* data() const { return mapped_ ? mapped_->data() : buf_.data(); }
    std::size_t size() const { return len_; }
    // Unmaps, and gives back a read buffer that grew large.
    void reset();
    // The mapping, handed over to an owner that unmaps it when the last copy goes (a result
    // that borrows the bytes keeps them this way); null when the file was read, not mapped.
    // The bytes stay where they are; this object then holds nothing.
    std::shared_ptr<const Mapping> take_mapping();
    // True when the file was found shorter than it was when mapped: what was made of the
    // bytes is not the file's.
    bool changed() const { return mapped_ && mapped_->changed(); }
    // Reads `path` ("-": standard input). On failure returns false with the reason in `why`.
    bool load(const std::string& path, std::string& why);
    // The errno of the last failure: EFBIG for a file too large, ENOMEM when memory ran out.
    int error_number() const { return errno_; }

private:
    bool read_upto(int fd, std::size_t stop, std::string& why);
    bool drain_nul(int fd, std::size_t stop, std::string& why);
    bool fail(int err, std::string& why, std::string text);

    bool map_large_ = true;
    int errno_ = 0;
    std::unique_ptr<Mapping> mapped_;
    GrowBuffer buf_;
    std::size_t len_ = 0;
    bool nul_ = false; // a stream read so far holds NUL bytes only
};

} // namespace host
