// WebVTT: the SubRip blocks under a header, without numbers, with '.' before the fraction.
#include "writers/writer.hpp"

namespace cuekit {

void write_vtt(const CueView& cues, const WriteSettings& ws, Out& out, Notes&) { write_timed_blocks(cues, ws, out, true); }

} // namespace cuekit
