// What the writers share: the buffered output they write through, the settings of one write,
// markup translation, and the one table of targets. Writers read a result through a CueView
// (core/cues.hpp) only, so they do not depend on how a result keeps its cues.
#pragma once

#include "core/cues.hpp"
#include "formats/formats.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace cuekit {

// Where written bytes go: false from the sink means it could not take them.
using SinkFn = bool (*)(void* ctx, const char* data, size_t len);

// Buffered output to a sink. After the first refused flush everything else is dropped and
// failed() stays true.
class Out {
public:
    Out(SinkFn sink, void* ctx) : sink_(sink), ctx_(ctx) { buf_.resize(kSize); }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    Out& put(std::string_view s) {
        if (s.size() > kSize - len_) {
            flush();
            if (s.size() > kSize) {
                send(s.data(), s.size());
                return *this;
            }
        }
        std::memcpy(buf_.data() + len_, s.data(), s.size());
        len_ += s.size();
        return *this;
    }
    Out& put(char c) {
        if (len_ == kSize) flush();
        buf_[len_++] = c;
        return *this;
    }
    // A non-negative number with at least `width` digits (zero padded).
    Out& num(uint64_t v, int width = 1);
    bool flush() {
        if (len_) send(buf_.data(), len_);
        len_ = 0;
        return !failed_;
    }
    bool failed() const { return failed_; }

private:
    void send(const char* p, size_t n) {
        if (!failed_ && !sink_(ctx_, p, n)) failed_ = true;
    }
    static constexpr size_t kSize = 1 << 16;
    std::string buf_;
    size_t len_ = 0;
    SinkFn sink_;
    void* ctx_;
    bool failed_ = false;
};

// Settings of one write: the public options record, checked by check_options.
using WriteSettings = WriteOptions;
// What is wrong with options, as "option: what it expects" (a static text), or nullptr; the
// font name is `font` (the C interface checks its own without a copy), else the options'.
const char* option_problem_text(const WriteOptions& o, std::string_view font);
inline const char* option_problem_text(const WriteOptions& o) { return option_problem_text(o, o.font); }

// Whether `s` holds a character the readers end a line at: CR, LF or U+2028.
inline bool holds_line_end(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos || s.find("\xE2\x80\xA8") != std::string_view::npos;
}

// The markup of lines read from `format`.
Markup source_markup(int format);

// Translates the lines of one cue from the markup of its source to that of a target: the
// basic styles (italic, bold, underline, strike-out, colour) are carried over, other markup
// is kept only between the same kind of markup, and text is made inert for the target.
// `strip` keeps the text alone (still made inert).
class MarkupWriter {
public:
    // `source` (a format identifier) tells which tags its markup has; unknown: SubRip's.
    MarkupWriter(Markup from, Markup to, bool strip, int source = -1);
    // Appends the translation of one line of the cue to `out`.
    void line(std::string_view line, std::string& out);
    // Closes the styles the cue left open (appended to the last line); resets for the next cue.
    void end_cue(std::string& out);

    static bool has_styles(Markup m) { return m == Markup::Html || m == Markup::Vtt || m == Markup::Ass; }

private:
    void text(std::string_view s, std::string& out);
    void style(unsigned bit, bool on, std::string& out);
    void color(bool set, uint32_t rgb, std::string& out);
    void raw(std::string_view s, bool in_block, std::string& out);
    void block(std::string& out);
    void end_block(std::string& out);
    // Writes the text from `pos` up to the next byte of `specials`; its position, or npos.
    size_t text_until(std::string_view line, size_t pos, const struct ByteSet& specials, std::string& out);
    void read_tags(std::string_view line, std::string& out);
    void read_ass(std::string_view line, std::string& out);
    void read_ass_code(std::string_view code, std::string& out);
    bool is_tag(std::string_view tag) const;
    void open_tag(int kind, uint32_t rgb, std::string& out);
    void close_tag(int kind, std::string& out);

    Markup from_;
    Markup to_;
    bool styled_;
    std::string_view tags_;        // the source's tag names, empty when any tag-like text is one
    bool verbatim_ = false;        // SubRip to SubRip: text in angle brackets stays as it was
    // Tags open in the output (HTML targets), innermost last: a style bit, or kFont.
    struct Open {
        int kind;
        uint32_t rgb;
    };
    static constexpr int kFont = 4;
    std::vector<Open> open_;
    bool in_block_ = false;        // inside an ASS override block being written
    bool drawing_ = false;         // ASS drawing mode: the text is shapes, not words
    std::vector<int64_t> fonts_;   // font tags being read: colour, or -1 for one without
    std::string scratch_;
};

// The lines of one cue after another, translated for a target; the buffers are reused.
class CueLines {
public:
    CueLines(const CueView& cues, Markup to, const WriteSettings& ws);
    const std::vector<std::string>& of(size_t i);

private:
    void split_breaks();
    std::string_view well_formed(std::string_view line);
    void drop_xml_forbidden(std::string& line);
    const CueView& cues_;
    MarkupWriter markup_;
    bool xml_;
    std::vector<std::string> lines_;
    std::vector<std::string> split_;
    std::string repaired_;
};

// The largest time in centiseconds (ASS, LRC) that the readers hold, INT32_MAX milliseconds
// cut: 596:31:23.64.
constexpr int64_t kMaxCentiseconds = INT32_MAX / 10;
// Centiseconds of a time, the one rounding rule of ASS and LRC: to the nearest, halves up.
constexpr int64_t to_centiseconds(int32_t ms) { return (static_cast<int64_t>(ms < 0 ? 0 : ms) + 5) / 10; }

// The lines with `sep` between them.
void put_joined(Out& out, const std::vector<std::string>& lines, std::string_view sep);

// Cue indices by start time (stable).
std::vector<size_t> order_by_start(const CueView& cues);

// Writes a clock time: H:MM:SS (hours at least `hour_width` digits) then `sep` and the
// fraction in `frac_digits` digits (3 milliseconds, 2 centiseconds).
void put_clock(Out& out, int64_t units, int hour_width, char sep, int frac_digits);

// Notes a writer leaves for the caller (dropped comments and the like).
using Notes = std::vector<std::string>;

using WriterFn = void (*)(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);

struct TargetInfo {
    std::string_view name;
    // The format of the table this target writes, whose aliases and extensions are the
    // target's too; SUB_FORMAT_AUTO for a target that is no format of the table.
    sub_format format;
    std::string_view ext; // the extension of a target that is no format (with the dot), or ""
    Markup markup;        // what cue text becomes in this target
    WriterFn write;
    WriterFn write_danmaku; // for danmaku sources when they are laid out differently; or null
};

// The one table of targets, in the order of their identifiers.
std::span<const TargetInfo> targets();
// The row of a target's name or of an alias of its format, ASCII case ignored; or nullptr.
const TargetInfo* find_target(std::string_view name);
// The row a file name's last extension names, ASCII case ignored; or nullptr.
const TargetInfo* target_of_path(std::string_view path);
// Extension k of a target (the usual one first), "" past the last.
std::string_view target_extension(const TargetInfo& t, size_t k);

// Writes `cues` as `target` to the sink. SUB_WRITE_OK; SUB_WRITE_BAD_ARGUMENT for an unknown
// target or options out of range; SUB_WRITE_NOMEM; SUB_WRITE_SINK when the sink refused the
// bytes. Notes go to `notes`.
int write_cues(const CueView& cues, std::string_view target, const WriteSettings& ws, SinkFn sink, void* ctx,
               Notes& notes);

// SubRip blocks, or WebVTT's with `vtt`.
void write_timed_blocks(const CueView& cues, const WriteSettings& ws, Out& out, bool vtt);
// The parts of an ASS script both ASS writers share.
struct AssStyle {
    uint64_t size = 0;
    uint64_t outline = 0;
    uint64_t shadow = 0;
    uint64_t alignment = 2; // numpad position
    uint64_t margin_lr = 0;
    uint64_t margin_v = 0;
    uint64_t wrap_style = 0;
};
// Script info, the Default style and the events' Format line.
void put_ass_header(Out& out, const WriteSettings& ws, const AssStyle& style);
// "Dialogue: " with the layer, both times and the fields before the text. Gives what it had to
// change: kLengthened (a cue without length made one centisecond long), kClamped (cut at the
// largest time ASS holds).
constexpr unsigned kLengthened = 1, kClamped = 2;
unsigned put_dialogue_start(Out& out, int32_t start_ms, int32_t end_ms);
// One note per kind of change a writer made to times, with the count of cues.
void note_times(Notes& notes, size_t lengthened, size_t clamped, std::string_view unit);
void write_srt(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
void write_vtt(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
void write_ass(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
void write_ttml(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
void write_lrc(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
void write_txt(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
void write_json_target(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);
// Danmaku laid out as a player shows them (ass target, danmaku sources).
void write_danmaku_ass(const CueView& cues, const WriteSettings& ws, Out& out, Notes& notes);

} // namespace cuekit
