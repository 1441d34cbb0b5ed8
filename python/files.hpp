// Reading and parsing one file without touching the interpreter: the work the module does with
// the interpreter lock released, on the caller's thread or on a pool thread.
#pragma once

#include "host/input.hpp"

#include <cuekit.hpp>

#include <string>

namespace cuekit::py {

// What parsing one file produced: a result (which may carry a failure code), or why the file
// could not be read or parsed at all.
struct FileParse {
    Result result;
    int sys_error = 0;       // errno when the file could not be read
    std::string sys_message; // and the tool's words for it
    bool no_memory = false;  // memory ran out before the parser could say so
};

// Reads the file at `path` (file-system bytes) into `file` as the tool does, and parses it.
// With `format` Auto the format is detected from the content and the file name's extension.
// `encoding` null means automatic detection.
FileParse parse_path(const std::string& path, Format format, const char* encoding, host::FileBytes& file) noexcept;

} // namespace cuekit::py
