// SAMI: HTML-like documents in which each caption block starts at a SYNC tag with a Start
// time in milliseconds and runs to the next SYNC tag. Blocks with text become cues lasting
// until the next block; an empty block (typically a no-break space) only ends the one before.
#include "formats/formats.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <utility>
#include <vector>

namespace cuekit {
namespace {

constexpr std::string_view kSyncPlain = "<sync start=";
constexpr std::string_view kSyncEncrypted = "<sync encrypted=\"true\" start=";
constexpr size_t kDigitsMax = 31;
constexpr double kBytesPerSecond = 14.7;
constexpr double kMinLastMs = 1000;
constexpr double kMaxLastMs = 10000;
constexpr int32_t kMinGapMs = 1000;
// The end tags that cleaning deletes, in the order it deletes them.
constexpr std::array<std::string_view, 4> kEndTags{"</body>", "</sami>", "</sync>", "</p>"};

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The first position in [p, end) where `hit(p, end)` holds, or `end`. Where the machine
// allows it, sixteen positions at a time: `hits(a, b)` gives the mask of the bytes at p (a)
// and of those a byte further (b). Bytes up to `limit` may be read, so a short stretch in a
// long text needs no byte-by-byte end; a candidate just before `end`, judged with a byte
// beyond it, is checked again. The stops are rare, the stretches between them short.
template <typename Hits, typename Hit>
[[gnu::always_inline]] inline const char* scan(const char* p, const char* end, [[maybe_unused]] const char* limit, [[maybe_unused]] Hits hits, Hit hit) {
#ifdef __SSE2__
    for (; p < end && limit - p >= 17; p += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        auto m = static_cast<unsigned>(_mm_movemask_epi8(hits(a, b)));
        if (end - p < 16) m &= (1u << (end - p)) - 1;
        if (m) {
            const char* const c = p + std::countr_zero(m);
            return c + 1 < end || hit(c, end) ? c : end;
        }
    }
#endif
    for (; p < end; ++p)
        if (hit(p, end)) return p;
    return end;
}

#ifdef __SSE2__
__m128i bytes_eq(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
// A blank that does not stay as it is: a tab, a CR, or a space with a blank after it.
__m128i blanks_to_fold(__m128i a, __m128i b) {
    const __m128i next_blank = _mm_or_si128(_mm_or_si128(bytes_eq(b, ' '), bytes_eq(b, '\t')), bytes_eq(b, '\r'));
    return _mm_or_si128(_mm_or_si128(bytes_eq(a, '\t'), bytes_eq(a, '\r')), _mm_and_si128(bytes_eq(a, ' '), next_blank));
}
#else
struct NoVector {};
#endif

struct SyncTag {
    size_t at = std::string_view::npos;
    size_t value_at = 0; // first byte after "start="
};

// SYNC tags are searched as a C string search would see the text: a NUL hides everything
// after it from a search that starts before it. Both forms begin with "<s", so one walk
// finds either, and notes a NUL on the way.
class SyncFinder {
public:
    explicit SyncFinder(std::string_view text) : text_(text) {}

    // The first SYNC tag at or after `from` (none when a NUL comes first), and in `stop`
    // where the text read from `from` ends: at that tag, at the NUL, or at the text's end.
    SyncTag next(size_t from, size_t& stop) const {
        const char* const t = text_.data();
        const char* const end = t + text_.size();
        const auto hit = [](const char* q, const char* e) {
            return *q == '\0' || (*q == '<' && q + 1 < e && fold(static_cast<unsigned char>(q[1])) == 's');
        };
        for (const char* q = t + from; (q = next_of(q, end, hit)) < end; ++q) {
            stop = static_cast<size_t>(q - t);
            if (*q == '\0') return {};
            const std::string_view rest(q, static_cast<size_t>(end - q));
            if (starts_with_form(rest, kSyncPlain)) return {stop, stop + kSyncPlain.size()};
            if (starts_with_form(rest, kSyncEncrypted)) return {stop, stop + kSyncEncrypted.size()};
        }
        stop = text_.size();
        return {};
    }

private:
    // The first NUL or "<s" (any case) at or after q, or `end`: most '<' start other tags.
    template <typename Hit>
    static const char* next_of(const char* q, const char* end, Hit hit) {
#ifdef __SSE2__
        return scan(q, end, end, [](__m128i a, __m128i b) {
            const __m128i s = bytes_eq(_mm_or_si128(b, _mm_set1_epi8(0x20)), 's');
            return _mm_or_si128(_mm_and_si128(bytes_eq(a, '<'), s), _mm_cmpeq_epi8(a, _mm_setzero_si128()));
        }, hit);
#else
        return scan(q, end, end, NoVector{}, hit);
#endif
    }
    // istarts_with for a lower-case form, without a branch per byte: nearly every "<s" is a tag.
    static bool starts_with_form(std::string_view s, std::string_view form) {
        if (s.size() < form.size()) return false;
        unsigned diff = 0;
        for (size_t k = 0; k < form.size(); ++k) {
            const auto c = static_cast<unsigned char>(s[k]);
            const auto f = static_cast<unsigned char>(form[k]);
            diff |= ((f >= 'a' && f <= 'z') ? (c | 0x20u) : c) ^ f;
        }
        return diff == 0;
    }

    std::string_view text_;
};

// The cleaning steps below work in place on s[0..n) and return the new length. Each one
// gives exactly what deleting the leftmost match and searching again from the start until
// nothing matches would give, in one pass.

// "<br ...>" in any case becomes a line feed; one without a later '>' stays as it is.
size_t breaks_to_newlines(char* s, size_t n) {
    size_t w = 0;
    size_t r = 0;
    while (r < n) {
        if (s[r] == '<' && r + 2 < n && fold(static_cast<unsigned char>(s[r + 1])) == 'b' &&
            fold(static_cast<unsigned char>(s[r + 2])) == 'r') {
            const void* gt = std::memchr(s + r + 3, '>', n - r - 3);
            if (!gt) break; // no '>' further on: nothing after this point changes
            s[w++] = '\n';
            r = static_cast<size_t>(static_cast<const char*>(gt) - s) + 1;
            continue;
        }
        s[w++] = s[r++];
    }
    if (r < n) {
        std::memmove(s + w, s + r, n - r);
        w += n - r;
    }
    return w;
}

// Removes `pat` (any case) until none is left, also where a removal joins a new one. `pat`
// begins with '<', ends with '>' and holds neither elsewhere, so no two matches overlap and
// a match can only complete at a '>' on the kept output.
size_t erase_all(char* s, size_t n, std::string_view pat) {
    size_t w = 0;
    for (size_t r = 0; r < n; ++r) {
        s[w++] = s[r];
        if (s[r] == '>' && w >= pat.size() && ieq(std::string_view(s + w - pat.size(), pat.size()), pat))
            w -= pat.size();
    }
    return w;
}

// The leading paragraph tag (with whitespace or a font tag before it) goes, when the text
// starts its markup with "<p" or "<font".
size_t drop_leading_paragraph(char* s, size_t n) {
    const std::string_view t(s, n);
    const size_t lt = t.find('<');
    const size_t gt = t.find('>');
    if (lt == std::string_view::npos || gt == std::string_view::npos || lt > gt) return n;
    const std::string_view tag = t.substr(lt);
    if (!istarts_with(tag, "<p") && !istarts_with(tag, "<font")) return n;
    const size_t p = ifind(t, "<p");
    if (p == std::string_view::npos) return n;
    const size_t close = t.find('>', p);
    if (close == std::string_view::npos) return n;
    std::memmove(s, s + close + 1, n - close - 1);
    return n - close - 1;
}

// Removes each "<div ...>" from the leftmost "<div" through the next '>'. The kept output
// never holds a "<div" with a '>' after it, so a '>' closes the leftmost open one.
size_t erase_div_tags(char* s, size_t n) {
    size_t w = 0;
    size_t open = std::string_view::npos;
    for (size_t r = 0; r < n; ++r) {
        const char c = s[r];
        s[w++] = c;
        if (c == '>') {
            if (open != std::string_view::npos) {
                w = open;
                open = std::string_view::npos;
            }
        } else if (open == std::string_view::npos && w >= 4 && fold(static_cast<unsigned char>(c)) == 'v' &&
                   ieq(std::string_view(s + w - 4, 4), "<div")) {
            open = w - 4;
        }
    }
    return w;
}

// Runs of spaces, tabs and carriage returns become one space; line feeds stay.
size_t collapse_blanks(char* s, size_t n) {
    size_t w = 0;
    bool blank = false;
    for (size_t r = 0; r < n; ++r) {
        const char c = s[r];
        if (c == ' ' || c == '\t' || c == '\r') {
            if (!blank) s[w++] = ' ';
            blank = true;
        } else {
            s[w++] = c;
            blank = false;
        }
    }
    return w;
}

// Which of the tags that the cleaning steps remove occur in `s`, in one walk over its '<'.
constexpr unsigned kBr = 1, kEndBody = 2, kEndSami = 4, kEndSync = 8, kEndP = 16, kDiv = 32, kEndDiv = 64;
unsigned tags_in(std::string_view s) {
    unsigned found = 0;
    for (size_t i = s.find('<'); i != std::string_view::npos; i = s.find('<', i + 1)) {
        const std::string_view rest = s.substr(i);
        const auto at = [&](size_t k) { return k < rest.size() ? fold(static_cast<unsigned char>(rest[k])) : 0; };
        // The byte after '<' (and after "</") tells which tag it can be.
        switch (at(1)) {
        case 'b': found |= at(2) == 'r' ? kBr : 0u; break;
        case 'd': found |= istarts_with(rest, "<div") ? kDiv : 0u; break;
        case '/':
            switch (at(2)) {
            case 'b': found |= istarts_with(rest, kEndTags[0]) ? kEndBody : 0u; break;
            case 's': found |= istarts_with(rest, kEndTags[1]) ? kEndSami : istarts_with(rest, kEndTags[2]) ? kEndSync : 0u; break;
            case 'p': found |= at(3) == '>' ? kEndP : 0u; break;
            case 'd': found |= istarts_with(rest, "</div>") ? kEndDiv : 0u; break;
            default: break;
            }
            break;
        default: break;
        }
    }
    return found;
}

// The block's text without its structural tags; other markup (font, b, i) stays.
std::string_view sami_clean(std::string_view block, std::string& buf) {
    buf.assign(block);
    char* s = buf.data();
    size_t n = buf.size();
    if (std::memchr(s, '<', n)) { // every tag step needs a '<'
        // A step changes nothing unless its tag occurs, and only a removal can join a new
        // match, so the tags are looked for again only after one.
        unsigned tags = tags_in({s, n});
        auto step = [&](unsigned bit, auto&& run) {
            if (bit && !(tags & bit)) return;
            const size_t before = n;
            n = run();
            if (n != before) tags = tags_in({s, n});
        };
        step(kBr, [&] { return breaks_to_newlines(s, n); });
        for (size_t k = 0; k < kEndTags.size(); ++k)
            step(kEndBody << k, [&] { return erase_all(s, n, kEndTags[k]); });
        step(0, [&] { return drop_leading_paragraph(s, n); });
        step(kDiv, [&] { return erase_div_tags(s, n); });
        step(kEndDiv, [&] { return erase_all(s, n, "</div>"); });
    }
    n = html_decode(s, n);
    n = collapse_blanks(s, n);
    return trim(std::string_view(s, n));
}

// Where a line of a block's cleaned text stands unchanged in the block, past the line before
// it: only lines that cleaning changed need a copy. The search is bounded by a few bytes of
// markup ahead of the line, so it stays linear.
struct BlockSearch {
    std::string_view block;
    size_t cursor = 0;
};
std::string_view find_in_block(void* context, std::string_view line) {
    constexpr size_t kMarkupAhead = 64;
    auto* s = static_cast<BlockSearch*>(context);
    const size_t at = s->block.substr(s->cursor, line.size() + kMarkupAhead).find(line);
    if (at == std::string_view::npos) return line;
    const std::string_view found = s->block.substr(s->cursor + at, line.size());
    s->cursor += at + line.size();
    return found;
}

// The cleaning above in one pass, for the common block whose every '<' is closed by a '>'
// before the next '<'. There each tag is a whole "<...>" that no removal can join with
// another, so every tag is judged once as it stands; only the removal of a leading paragraph
// looks further (to the first tag the end-tag removal leaves). The text is written out with
// its blanks collapsed; character references are decoded afterwards from the first '&' on,
// as the removals could join them. Each stretch copied as it is is logged, so that the lines
// of the text can be stored as views of the block.
class FastClean {
public:
    // Blocks are parts of `text`, which the scans may read up to its end.
    explicit FastClean(std::string_view text) : limit_(text.data() + text.size()) {}
    // The cleaned, trimmed text, or false when the block's markup is not plain enough: the
    // step-by-step cleaning then decides. The text is a view of the block where one stretch
    // of it holds the whole text, else it lies in the buffer.
    bool clean(std::string_view block, std::string_view& text);
    // How cue_add_text finds the lines of the last text in the block.
    LineFinder finder() { return in_buffer_ ? LineFinder{find, this} : LineFinder{}; }
    // The buffer, for the step-by-step cleaning of a block this one refused: one block's
    // worth of memory serves both.
    std::string& buffer() { return buf_; }

private:
    struct Run {
        size_t out;
        const char* src;
        size_t len;
    };
    enum class Tag { kBreak, kEnd, kDiv, kOther };
    static Tag classify(const char* lt, const char* gt);
    [[gnu::always_inline]] void copy(const char* p, size_t n);
    static std::string_view find(void* self, std::string_view line);

    // Room for the last sixteen-byte copy: the output itself is never longer than the block.
    static constexpr size_t kSlack = 16;
    const char* limit_;
    std::string buf_;
    std::vector<Run> runs_;
    size_t w_ = 0;
    // Where the log of stretches stops: a block of many short stretches (blanks or tags
    // every few bytes) would need many times its size for it. Lines past it are searched for.
    static constexpr size_t kMaxRuns = 256;
    size_t logged_ = SIZE_MAX;
    size_t logged_from_ = 0; // the block offset of the output at logged_
    size_t clean_ = 0; // output below this offset is where the logged copies put it
    size_t run_ = 0;   // the run the last line was found in
    bool in_buffer_ = false;
    BlockSearch search_;
};

bool blank_to_fold(const char* p, const char* end) {
    return *p == '\t' || *p == '\r' || (*p == ' ' && p + 1 < end && is_blank(p[1]));
}

// The first blank that collapsing changes, or `end`.
[[gnu::always_inline]] inline const char* next_blank_to_fold(const char* p, const char* end, const char* limit) {
#ifdef __SSE2__
    return scan(p, end, limit, blanks_to_fold, blank_to_fold);
#else
    return scan(p, end, limit, NoVector{}, blank_to_fold);
#endif
}

// The first '<' or blank that collapsing changes, or `end`.
[[gnu::always_inline]] inline const char* next_stop(const char* p, const char* end, const char* limit) {
    const auto hit = [](const char* q, const char* e) { return *q == '<' || blank_to_fold(q, e); };
#ifdef __SSE2__
    return scan(p, end, limit, [](__m128i a, __m128i b) { return _mm_or_si128(bytes_eq(a, '<'), blanks_to_fold(a, b)); }, hit);
#else
    return scan(p, end, limit, NoVector{}, hit);
#endif
}

// The first '<' or '>', or `end`.
[[gnu::always_inline]] inline const char* next_angle(const char* p, const char* end, const char* limit) {
    const auto hit = [](const char* q, const char*) { return *q == '<' || *q == '>'; };
#ifdef __SSE2__
    return scan(p, end, limit, [](__m128i a, __m128i) { return _mm_or_si128(bytes_eq(a, '<'), bytes_eq(a, '>')); }, hit);
#else
    return scan(p, end, limit, NoVector{}, hit);
#endif
}

FastClean::Tag FastClean::classify(const char* lt, const char* gt) {
    const std::string_view tag(lt, static_cast<size_t>(gt - lt) + 1);
    // The byte after '<' (and the one after "</") rules out most tags without a comparison.
    const auto at = [&](size_t k) { return fold(static_cast<unsigned char>(tag[k])); };
    switch (at(1)) {
    case 'b': return at(2) == 'r' ? Tag::kBreak : Tag::kOther;
    case 'd': return istarts_with(tag, "<div") ? Tag::kDiv : Tag::kOther;
    case '/':
        if (tag.size() == 6 && ieq(tag, "</div>")) return Tag::kDiv;
        for (const std::string_view end : kEndTags)
            if (tag.size() == end.size() && at(2) == static_cast<unsigned char>(end[2]) && ieq(tag, end)) return Tag::kEnd;
        return Tag::kOther;
    default: return Tag::kOther;
    }
}

inline void FastClean::copy(const char* p, size_t n) {
    if (n == 0) return;
    char* const to = buf_.data() + w_;
#ifdef __SSE2__
    // Stretches are short: copied sixteen bytes a step into the buffer's slack where the
    // text goes on far enough.
    if (limit_ - p >= static_cast<ptrdiff_t>(n + 16)) {
        for (size_t i = 0; i < n; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    } else {
        std::memcpy(to, p, n);
    }
#else
    std::memcpy(to, p, n);
#endif
    if (!runs_.empty()) {
        Run& last = runs_.back();
        if (last.src + last.len == p && last.out + last.len == w_) {
            last.len += n;
            w_ += n;
            return;
        }
    }
    if (runs_.size() < kMaxRuns) {
        // Field by field: a whole-record copy built on the stack reads back what was just
        // stored there in two halves, which stalls.
        Run& run = runs_.emplace_back();
        run.out = w_;
        run.src = p;
        run.len = n;
    } else if (logged_ == SIZE_MAX) {
        logged_ = w_;
        logged_from_ = static_cast<size_t>(p - search_.block.data());
    }
    w_ += n;
}

bool FastClean::clean(std::string_view block, std::string_view& text) {
    if (buf_.size() < block.size() + kSlack) buf_.resize(block.size() + kSlack);
    char* const out = buf_.data();
    runs_.clear();
    w_ = 0;
    run_ = 0;
    search_ = {block, 0};
    const char* p = block.data();
    const char* const end = p + block.size();
    // The leading paragraph: undecided until the first tag that the end-tag removal leaves;
    // after a font tag, the first paragraph tag decides.
    enum { kUndecided, kSeekParagraph, kDecided } lead = kUndecided;
    logged_ = SIZE_MAX;
    const auto drop_all = [&] {
        w_ = 0;
        runs_.clear();
        logged_ = SIZE_MAX;
        lead = kDecided;
    };
    // The usual block opens with a paragraph tag, which goes as the leading paragraph; the
    // rest, trimmed, is then mostly free of tags and blanks to fold. Such a rest is the text
    // (the blanks and breaks around it would all be trimmed away) once its references, if
    // any, are decoded.
    const char* known = nullptr; // the first stop from p, when already found
    bool whole = false;          // the rest is copied as it stands
    if (block.size() > 1 && *p == '<' && fold(static_cast<unsigned char>(p[1])) == 'p') {
        const char* const gt = next_angle(p + 1, end, limit_);
        if (gt < end && *gt == '>') {
            p = gt + 1;
            lead = kDecided;
            const std::string_view rest = trim(std::string_view(p, static_cast<size_t>(end - p)));
            const char* const rest_end = rest.data() + rest.size();
            const char* const q = next_stop(rest.data(), rest_end, limit_);
            if (q == rest_end) {
                if (!std::memchr(rest.data(), '&', rest.size())) {
                    text = rest;
                    in_buffer_ = false;
                    return true;
                }
                // A block that only ends the one before: its no-break space becomes a blank.
                if (rest == "&nbsp;") {
                    text = rest.substr(0, 0);
                    in_buffer_ = false;
                    return true;
                }
                copy(rest.data(), rest.size());
                whole = true;
            } else if (rest.data() == p) {
                known = q; // the rest's last byte is no blank, so q is the first stop from p too
            }
        }
    }
    while (!whole) {
        // A run of blanks goes on across a removed tag.
        if (w_ > 0 && out[w_ - 1] == ' ')
            while (p < end && is_blank(*p)) ++p;
        const char* const q = known ? known : next_stop(p, end, limit_);
        known = nullptr;
        copy(p, static_cast<size_t>(q - p));
        if (q == end) break;
        if (*q != '<') {
            out[w_++] = ' ';
            p = q + 1;
            continue;
        }
        const char* const gt = next_angle(q + 1, end, limit_);
        if (gt == end || *gt == '<') return false;
        p = gt + 1;
        const Tag kind = classify(q, gt);
        if (kind == Tag::kBreak) {
            out[w_++] = '\n';
            continue;
        }
        if (kind == Tag::kEnd) continue;
        const bool paragraph = fold(static_cast<unsigned char>(q[1])) == 'p';
        if (lead == kUndecided) {
            // A '>' in the text before it stands first: then nothing is removed.
            lead = kDecided;
            if (w_ == 0 || !std::memchr(out, '>', w_)) {
                if (paragraph) {
                    drop_all();
                    continue;
                }
                if (istarts_with(std::string_view(q, static_cast<size_t>(p - q)), "<font")) lead = kSeekParagraph;
            }
        } else if (lead == kSeekParagraph && paragraph) {
            drop_all();
            continue;
        }
        if (kind == Tag::kOther) {
            // Past its '<' a tag holds no '<', so the stops in it are blanks.
            copy(q, 1);
            for (const char* t = q + 1; t < p;) {
                const char* const b = next_blank_to_fold(t, p, limit_);
                copy(t, static_cast<size_t>(b - t));
                if (b == p) break;
                if (out[w_ - 1] != ' ') out[w_++] = ' ';
                for (t = b + 1; t < p && is_blank(*t);) ++t;
            }
        }
    }
    clean_ = std::min(w_, logged_);
    if (const void* amp = std::memchr(out, '&', w_)) {
        const auto at = static_cast<size_t>(static_cast<const char*>(amp) - out);
        clean_ = std::min(clean_, at);
        w_ = at + html_decode(out + at, w_ - at);
        // A reference may have become a blank beside another one. Up to the first blank to
        // collapse, the text stays, and no blank stands just before that one.
        const size_t from = at > 0 ? at - 1 : 0;
        const auto fold_at = static_cast<size_t>(next_blank_to_fold(out + from, out + w_, out + buf_.size()) - out);
        w_ = fold_at + collapse_blanks(out + fold_at, w_ - fold_at);
    }
    text = trim(std::string_view(out, w_));
    in_buffer_ = true;
    const auto at = static_cast<size_t>(text.data() - out);
    for (const Run& r : runs_) {
        if (r.out <= at && at + text.size() <= r.out + r.len && at + text.size() <= clean_) {
            text = {r.src + (at - r.out), text.size()};
            in_buffer_ = false;
            break;
        }
    }
    return true;
}

std::string_view FastClean::find(void* self, std::string_view line) {
    auto* c = static_cast<FastClean*>(self);
    const auto at = static_cast<size_t>(line.data() - c->buf_.data());
    if (at + line.size() > c->clean_) {
        // Decoding only shortens the text, so a line past the log lies past its source there.
        if (at >= c->logged_) c->search_.cursor = std::max(c->search_.cursor, c->logged_from_);
        return find_in_block(&c->search_, line);
    }
    size_t& r = c->run_;
    while (r < c->runs_.size() && c->runs_[r].out + c->runs_[r].len <= at) ++r;
    if (r == c->runs_.size() || c->runs_[r].out > at || at + line.size() > c->runs_[r].out + c->runs_[r].len) return line;
    const char* src = c->runs_[r].src + (at - c->runs_[r].out);
    c->search_.cursor = static_cast<size_t>(src - c->search_.block.data()) + line.size();
    return {src, line.size()};
}

// Bytes outside tags; an unclosed '<' ends the count.
size_t visible_bytes(std::string_view t) {
    size_t count = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '<') {
            const size_t gt = t.find('>', i);
            if (gt == std::string_view::npos) break;
            i = gt;
            continue;
        }
        ++count;
    }
    return count;
}

// The last block has no successor: it stays up as long as reading its text takes.
int32_t reading_ms(std::string_view t) {
    const double x = static_cast<double>(visible_bytes(t)) / kBytesPerSecond * 1000;
    if (x < kMinLastMs) return static_cast<int32_t>(kMinLastMs);
    return saturate_i32(std::min(x, kMaxLastMs));
}

// A block with a start time, written as a cue once the start of the next one is known.
struct Pending {
    bool any = false;
    int32_t start = 0;
    std::string_view block;
    bool flattened = false; // the block is a copy with its comments taken out, not in the text
};

} // namespace

bool probe_sami(std::string_view t) { return icontains(t, "<SAMI") || icontains(t, "<SYNC "); }

int parse_sami(Store& st, std::string_view text) {
    // Only a form before the first NUL counts.
    if (const size_t at = ifind(text, "<sync "); at == std::string_view::npos || std::memchr(text.data(), '\0', at)) {
        set_error(st, "SAMI: no <SYNC");
        return SUB_ERR_PARSE;
    }

    Pending pending;
    FastClean fast(text);
    // A block's cue lasts until the next block with a start time; the last one as long as
    // reading it takes. A block whose cleaned text is empty gives no cue.
    auto emit = [&](const int32_t* next) {
        if (!pending.any) return;
        std::string_view t;
        BlockSearch search{pending.block};
        LineFinder finder{find_in_block, &search};
        // The fast cleaner reads ahead in the text, so it takes only blocks that lie in it.
        if (!pending.flattened && fast.clean(pending.block, t))
            finder = fast.finder();
        else
            t = sami_clean(pending.block, fast.buffer());
        if (t.empty()) return;
        const int32_t start = pending.start;
        const int32_t end = !next ? add_sat(start, reading_ms(t)) : *next > start ? *next : add_sat(start, kMinGapMs);
        cue_add_text(st, cue_add(st, start, end), t, finder);
    };
    SyncFinder finder(text);
    const size_t n = text.size();
    // Comments hide SYNC tags and leave the text of the block they sit in. The next comment
    // at or after a position that only moves forward.
    const auto comment_from = [&](size_t from) {
        size_t at = xml_find_construct(text, from);
        while (at != std::string_view::npos && !text.substr(at).starts_with("<!--")) at = xml_find_construct(text, at + 2);
        return at;
    };
    size_t comment = comment_from(0);
    bool commented = false; // a comment in the block before the tag just found
    const auto next_tag = [&](size_t from, size_t& stop) {
        SyncTag t = finder.next(from, stop);
        commented = false;
        while (t.at != std::string_view::npos && comment < t.at) {
            const size_t end = xml_construct_end(text, comment);
            commented = commented || comment >= from;
            if (end > t.at) t = finder.next(end, stop);
            comment = comment_from(end);
        }
        return t;
    };
    std::string flat;
    size_t stop = 0;
    SyncTag tag = next_tag(0, stop);
    while (tag.at != std::string_view::npos) {
        size_t p = tag.value_at;
        while (p < n && (text[p] == '"' || text[p] == '\'')) ++p;
        const size_t digits_at = p;
        int64_t value = 0; // saturates, so never negative
        for (; p < n && p - digits_at < kDigitsMax && is_digit(static_cast<unsigned char>(text[p])); ++p)
            value = std::min<int64_t>(value * 10 + (text[p] - '0'), INT32_MAX);
        const size_t digit_count = p - digits_at;

        const size_t gt = p < n && text[p] == '>' ? p : text.find('>', p); // mostly right after the digits
        const size_t body_at = gt == std::string_view::npos ? n : gt + 1;
        tag = next_tag(body_at, stop);
        if (digit_count == 0) continue; // no start time: the block leaves no entry at all

        const auto start = static_cast<int32_t>(value);
        emit(&start);
        // The block is read as a C string: a NUL ends it.
        const std::string_view block = text.substr(body_at, stop - body_at);
        pending = {true, start, commented ? xml_flatten(block, flat) : block, commented};
    }
    emit(nullptr);

    return finish_parse(st, SUB_FORMAT_SAMI, "no SAMI cues");
}

} // namespace cuekit
