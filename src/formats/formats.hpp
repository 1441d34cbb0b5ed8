// The format parsers, their content probes, and the scanners several of them share.
#pragma once

#include "core/core.hpp"

#include <string>
#include <vector>

namespace cuekit {

// ---------------------------------------------------------------------------------------
// One parser and one probe per format, each in the format's own file. A probe gets the
// detection sample `t` (see ProbeFn).

int parse_srt(Store& st, std::string_view text);
int parse_vtt(Store& st, std::string_view text);
int parse_ass(Store& st, std::string_view text);
int parse_microdvd(Store& st, std::string_view text);
int parse_subviewer(Store& st, std::string_view text);
int parse_ttml(Store& st, std::string_view text);
int parse_ytxml(Store& st, std::string_view text);
int parse_lrc(Store& st, std::string_view text);
int parse_sami(Store& st, std::string_view text);
int parse_bilibili(Store& st, std::string_view text);
int parse_acfun(Store& st, std::string_view text);

bool probe_srt(std::string_view t);
bool probe_vtt(std::string_view t);
bool probe_ass(std::string_view t);
bool probe_microdvd(std::string_view t);
bool probe_subviewer(std::string_view t);
bool probe_ttml(std::string_view sample);
bool probe_ytxml(std::string_view sample);
bool probe_lrc(std::string_view t);
bool probe_sami(std::string_view t);
bool probe_bilibili(std::string_view t);
bool probe_acfun(std::string_view t);
// Whether a sample begins with the format's own structure (formats/lead.cpp).
bool lead_srt(std::string_view t);
bool lead_ttml(std::string_view t);
bool lead_lrc(std::string_view t);

// ---------------------------------------------------------------------------------------
// Markup scanning (formats/markup.cpp)

// Value of attribute `name` (double quotes first, then single quotes) inside one start tag,
// cut to `max_len` bytes; found == false when absent.
struct AttrValue {
    bool found = false;
    std::string_view value;
};
AttrValue xml_get_attr(std::string_view tag, std::string_view name, size_t max_len);

// xml_get_attr for a parser that asks one tag for several attributes: the tag's '=' signs are
// found once, and a lookup only compares the names before them.
class TagAttributes {
public:
    explicit TagAttributes(std::string_view tag);
    AttrValue get(std::string_view name, size_t max_len) const;

private:
    static constexpr size_t kMaxSigns = 16; // a tag with more is searched as xml_get_attr does
    std::string_view tag_;
    std::array<uint32_t, kMaxSigns> signs_{};
    size_t count_ = 0;
    bool overflow_ = false;
};

// What a format's character data makes of line structure: whether a br element (any case,
// any prefix) becomes a line feed, and whether runs of whitespace (space, tab, CR, LF)
// collapse into one space before entities are decoded.
struct TextRules {
    bool br_breaks = false;
    bool collapse_space = false;
};

// The character data of range: tags removed, at most kTextMax bytes kept, entities decoded,
// trimmed. The result points into `buf`, which is reused from call to call, or into `range`
// when nothing but trimming was needed.
std::string_view xml_text_decode(std::string_view range, std::string& buf, TextRules rules = {});

// xml_text_decode with its own buffer, and the decoded text then stored as a cue's lines:
// every line that the decoder copied unchanged from one stretch of the range stays a view of
// the range (the store then keeps no copy of it).
class MarkupText {
public:
    std::string_view decode(std::string_view range, TextRules rules = {});
    std::string_view text() const { return text_; }
    // Adds the text of the last decode to cue `index` as cue_add_text does; its result.
    int add_to(Store& st, int index) const;

    // A stretch of the source copied as it is to offset `out` of the output.
    struct Run {
        size_t out;
        const char* src;
        size_t len;
    };

private:
    // `piece` of the output as a view of the source, when one run holds it; runs are searched
    // from `run` on, so pieces are asked for in order.
    std::string_view source_of(std::string_view piece, size_t& run) const;

    std::string buf_;
    std::vector<Run> runs_;
    std::string_view text_;
    size_t clean_ = 0;    // output offsets below this are as the runs copied them
    bool copied_ = false; // whether text_ lies in buf_ (else it is a view of the range)
};

// ---------------------------------------------------------------------------------------
// Comments, CDATA sections, processing instructions and declarations (formats/xml.cpp)

// The first "<!" or "<?" at or after `from`, or npos.
size_t xml_find_construct(std::string_view text, size_t from);
// One past the end of the construct that starts at text[at] ("<!" or "<?"); the text's size
// when it never closes (the rest of the document is then inside it).
size_t xml_construct_end(std::string_view text, size_t at);

// Where the constructs of a text start, asked for at positions that only move forward; the
// whole scan reads the text once.
class XmlConstructs {
public:
    explicit XmlConstructs(std::string_view text) : text_(text) {}
    // The first construct starting at or after `from`, or npos.
    size_t next(size_t from);

private:
    std::string_view text_;
    size_t at_ = std::string_view::npos;
    bool searched_ = false;
};

// Character data holding constructs, as the decoders read it: comments, processing
// instructions and declarations dropped, a CDATA section's text escaped. Points into `buf`.
std::string_view xml_flatten(std::string_view range, std::string& buf);

// Walks the elements of one name through a markup text, front to back: each start tag (from
// its '<' through its first '>'), and on request the text up to the element's closing tag. A
// start or closing tag inside a comment or a CDATA section is not one; every '<' is looked at
// once, for all three.
class XmlElements {
public:
    // `open` is how a start tag begins ("<d ", "<text"); with `name_ends`, the byte after it
    // must be a space or '>' (anything else is a longer name, another element). Without
    // `exact`, ASCII case is ignored.
    XmlElements(std::string_view text, std::string_view open, std::string_view close, bool exact, bool name_ends)
        : text_(text), open_(open), close_(close), exact_(exact), name_ends_(name_ends) {}
    // The next start tag, cut to `max_tag` bytes; false when none with a '>' is left.
    bool next_tag(std::string_view& tag, size_t max_tag);
    // Whether the start tag just read ends in "/>".
    bool self_closing() const { return gt_ > 0 && text_[gt_ - 1] == '/'; }
    // The text between the start tag just read and the next closing tag, both then consumed,
    // flattened (xml_flatten, into `buf`) when it holds constructs; false when no closing tag
    // follows.
    bool body(std::string_view& inner, std::string& buf);

private:
    // The next '<' at or after `from` outside constructs, or npos; `crossed` set on stepping
    // over one.
    size_t next_lt(size_t from, bool& crossed) const;
    bool opens(size_t lt, std::string_view what) const;

    std::string_view text_;
    std::string_view open_;
    std::string_view close_;
    bool exact_;
    bool name_ends_;
    bool no_close_ = false; // no closing tag is left: every later body fails at once
    size_t pos_ = 0;
    size_t gt_ = 0;
};

// ---------------------------------------------------------------------------------------
// Shared block scanner of the SubRip and WebVTT parsers (formats/srt.cpp)

// Reads a timing line; true with both outs written when `line` is one.
bool srt_try_tc(std::string_view line, int32_t& start, int32_t& end);
// How the SubRip and WebVTT block scanners differ.
struct BlockRules {
    // Exempts lines (WebVTT keywords) from the timing-line test outside a cue.
    bool (*never_timing)(std::string_view trimmed) = nullptr;
    // Only a line without any character ends a cue; a line of blanks inside one is skipped.
    bool only_empty_line_ends_cue = false;
};
// Blank-line separated blocks, first timing line opens a cue, the block's later lines are its
// text, except that a strict timing line inside the text starts the next cue.
int parse_timed_blocks(Store& st, std::string_view text, const BlockRules& rules);

} // namespace cuekit
