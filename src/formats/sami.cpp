// SAMI: HTML-like documents in which each caption block starts at a SYNC tag with a Start
// time in milliseconds and runs to the next SYNC tag. Blocks with text become cues lasting
// until the next block; an empty block (typically a no-break space) only ends the one before.
#include "formats/formats.hpp"

#include <algorithm>
#include <cstring>
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

struct SyncTag {
    size_t at = std::string_view::npos;
    size_t value_at = 0; // first byte after "start="
};

// SYNC tags are searched as a C string search would see the text: a NUL hides everything
// after it from a search that starts before it. Positions only move forward.
class SyncFinder {
public:
    explicit SyncFinder(std::string_view text)
        : text_(text), plain_(text, kSyncPlain), encrypted_(text, kSyncEncrypted) {}

    SyncTag next(size_t from) {
        const size_t a = plain_.next(from);
        const size_t b = encrypted_.next(from);
        SyncTag tag;
        if (a < b)
            tag = {a, a + kSyncPlain.size()};
        else if (b != std::string_view::npos)
            tag = {b, b + kSyncEncrypted.size()};
        if (tag.at != std::string_view::npos && tag.at >= nul_after(from)) tag.at = std::string_view::npos;
        return tag;
    }

private:
    size_t nul_after(size_t from) {
        if (!nul_known_ || nul_ < from) {
            nul_ = std::min(text_.find('\0', from), text_.size());
            nul_known_ = true;
        }
        return nul_;
    }

    std::string_view text_;
    ForwardFinder plain_;
    ForwardFinder encrypted_;
    size_t nul_ = 0;
    bool nul_known_ = false;
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

// The block's text without its structural tags; other markup (font, b, i) stays.
std::string_view sami_clean(std::string_view block, std::string& buf) {
    buf.assign(block);
    char* s = buf.data();
    size_t n = buf.size();
    // A step changes nothing unless its tag occurs (a removal can only join a new match after
    // a first one), so a step whose tag is absent is skipped.
    const auto has = [&](std::string_view tag) { return ifind(std::string_view(s, n), tag) != std::string_view::npos; };
    if (std::memchr(s, '<', n)) { // every tag step needs a '<'
        if (has("<br")) n = breaks_to_newlines(s, n);
        for (const std::string_view pat : {"</body>", "</sami>", "</sync>", "</p>"})
            if (has(pat)) n = erase_all(s, n, pat);
        n = drop_leading_paragraph(s, n);
        if (has("<div")) n = erase_div_tags(s, n);
        if (has("</div>")) n = erase_all(s, n, "</div>");
    }
    n = html_decode(s, n);
    n = collapse_blanks(s, n);
    return trim(std::string_view(s, n));
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

struct Entry {
    int32_t start;
    size_t text_at; // into the shared text store
    size_t text_len;
};

} // namespace

bool probe_sami(std::string_view t) { return icontains(t, "<SAMI") || icontains(t, "<SYNC "); }

int parse_sami(Store& st, std::string_view text) {
    if (ifind(until_nul(text), "<sync ") == std::string_view::npos) {
        set_error(st, "SAMI: no <SYNC");
        return SUB_ERR_PARSE;
    }

    std::vector<Entry> entries;
    std::string store; // every block's cleaned text, back to back
    std::string scratch;
    SyncFinder finder(text);
    const size_t n = text.size();
    SyncTag tag = finder.next(0);
    while (tag.at != std::string_view::npos) {
        size_t p = tag.value_at;
        while (p < n && (text[p] == '"' || text[p] == '\'')) ++p;
        const size_t digits_at = p;
        while (p < n && p - digits_at < kDigitsMax && is_digit(static_cast<unsigned char>(text[p]))) ++p;
        const size_t digit_count = p - digits_at;

        const size_t gt = text.find('>', p);
        const size_t body_at = gt == std::string_view::npos ? n : gt + 1;
        tag = finder.next(body_at);
        const size_t body_end = tag.at == std::string_view::npos ? n : tag.at;
        if (digit_count == 0) continue; // no start time: the block leaves no entry at all

        std::array<char, kDigitsMax + 1> digits{};
        std::memcpy(digits.data(), text.data() + digits_at, digit_count);
        const int32_t start = atoi_sat(digits.data()); // saturates, so never negative
        // The block is read as a C string: a NUL ends it.
        const std::string_view block = until_nul(text.substr(body_at, body_end - body_at));
        const std::string_view clean = sami_clean(block, scratch);
        entries.push_back({start, store.size(), clean.size()});
        store.append(clean);
    }

    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const std::string_view t(store.data() + e.text_at, e.text_len);
        if (t.empty()) continue;
        int32_t end = 0;
        if (i + 1 < entries.size()) {
            const int32_t next = entries[i + 1].start;
            end = next > e.start ? next : add_sat(e.start, kMinGapMs);
        } else {
            end = add_sat(e.start, reading_ms(t));
        }
        cue_add_text(st, cue_add(st, e.start, end), t);
    }

    return finish_parse(st, SUB_FORMAT_SAMI, "no SAMI cues");
}

} // namespace cuekit
