// The batch runner: parses the inputs, on several threads when asked, and prints or converts
// their outcomes in input order, with a progress line on a terminal.
#pragma once

#include "convert.hpp"
#include "output.hpp"

#include "host/input.hpp"

#include <cuekit.hpp>

#include <string_view>
#include <vector>

namespace tool {

// What the command line asked for.
struct Options {
    EmitOptions emit;
    cuekit::Format format = cuekit::Format::Auto;
    const char* encoding = nullptr;
    unsigned jobs = 0; // 0: one per processor
    bool progress = true;
    std::vector<std::string_view> paths;
    Convert convert;
};

// The processors this process may run on.
unsigned processor_count();

// Parses `inputs` on `jobs` threads and prints or writes each outcome in input order. The exit
// code: 0, or 1 when a file failed or the output could not be written.
int run_batch(const Options& o, std::vector<host::Input> inputs, unsigned jobs);

} // namespace tool
