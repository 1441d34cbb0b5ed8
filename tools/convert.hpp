// The tool's conversion options: the target, where the output goes, the time change and the
// ASS and danmaku settings, read from the command line and applied to each parse result.
#pragma once

#include "host/input.hpp"
#include "host/mapping.hpp"

#include <cuekit.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tool {

struct Convert {
    std::string target; // empty: no conversion
    const char* out_path = nullptr;
    const char* out_dir = nullptr;
    int32_t shift_ms = 0;
    double fps_from = 0;
    double fps_to = 0;
    cuekit::WriteOptions write;
    const char* ass_option = nullptr; // an option only an ASS script takes, as given
    std::set<std::pair<dev_t, ino_t>> inputs; // the files this run reads: no output replaces one
    std::set<std::string> written; // outputs so far, by real folder and name (two inputs must not share one)

    bool converts() const { return !target.empty(); }
    bool retimes() const { return shift_ms != 0 || fps_from != 0; }
};

// When argv[i] is a conversion option, reads it (and its value, moving i past it) and returns
// true; `error` then holds a one-line message if the value is bad. False for other arguments.
bool read_convert_option(int argc, char** argv, int& i, Convert& c, std::string& error);

// The names of the write targets with `sep` between them and `last_sep` before the last.
std::string target_names(std::string_view sep, std::string_view last_sep);

// Checks the options together, once all are read, for `inputs` named inputs: a message, or "".
std::string check_convert(Convert& c, size_t inputs);

// Before any file is read: checks the output folder and the count of inputs a conversion to
// standard output can join, and notes which files are inputs. A message, or "", with the exit
// code to give in `code`.
std::string prepare_outputs(Convert& c, const std::vector<host::Input>& inputs, int& code);

// Applies the time change to a result (its warnings join the result's).
void retime(const Convert& c, cuekit::Result& r);

// Writes the conversion of one input's result: to `to_stdout`, to -o's path (through a
// temporary file and a rename) or into --out-dir. Never over an input file, and no file at
// all when `source` (the mapped input, or null) changed meanwhile. `notes` receives what the
// writer left out. 0, or 1 with a one-line message in `error`.
int write_converted(Convert& c, const cuekit::Result& r, std::string_view input_path, const host::Mapping* source,
                    const cuekit::Sink& to_stdout, std::vector<std::string>& notes, std::string& error);

// What a file that changed while it was read is reported with.
constexpr const char* kChanged = "the file changed while it was read";

} // namespace tool
