// Tag-and-attribute scanning shared by the markup parsers. Byte patterns only: no
// namespaces, nesting, CDATA or comments.
#include "formats/formats.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cuekit {

namespace {
// The pattern lives in a 64-byte buffer: a name beyond 61 bytes is cut there.
constexpr size_t kAttrNameMax = 61;

// The value is cut at `max_len` anyway, so its closing quote is looked for no further.
AttrValue quoted_value(std::string_view tag, size_t at, char quote, size_t max_len) {
    const std::string_view rest = tag.substr(at);
    size_t n = 0;
    while (n < rest.size() && n < max_len && rest[n] != quote) ++n;
    return {true, rest.substr(0, n)};
}
} // namespace

AttrValue xml_get_attr(std::string_view tag, std::string_view name, size_t max_len) {
    for (const char quote : {'"', '\''}) {
        std::array<char, kAttrNameMax + 3> buf{};
        const size_t n = std::min(name.size(), buf.size() - 3);
        if (n != 0) std::memcpy(buf.data(), name.data(), n);
        buf[n] = '=';
        buf[n + 1] = quote;
        const std::string_view pattern(buf.data(), n + 2);
        const size_t at = ifind(tag, pattern);
        if (at == std::string_view::npos) continue;
        return quoted_value(tag, at + pattern.size(), quote, max_len);
    }
    return {};
}

TagAttributes::TagAttributes(std::string_view tag) : tag_(tag) {
    for (size_t at = tag.find('='); at != std::string_view::npos; at = tag.find('=', at + 1)) {
        if (count_ == kMaxSigns) {
            overflow_ = true;
            break;
        }
        signs_[count_++] = static_cast<uint32_t>(at);
    }
}

AttrValue TagAttributes::get(std::string_view name, size_t max_len) const {
    if (overflow_ || tag_.size() > UINT32_MAX) return xml_get_attr(tag_, name, max_len);
    // An occurrence of `name="` is fixed by its '=', so the first one has the first such '='.
    name = name.substr(0, kAttrNameMax);
    for (const char quote : {'"', '\''}) {
        for (size_t i = 0; i < count_; ++i) {
            const size_t sign = signs_[i];
            if (sign < name.size() || sign + 1 >= tag_.size() || tag_[sign + 1] != quote) continue;
            if (ieq(tag_.substr(sign - name.size(), name.size()), name)) return quoted_value(tag_, sign + 2, quote, max_len);
        }
    }
    return {};
}

namespace {

// Whether the inside of a tag (between '<' and '>') is a br start tag, whatever its prefix.
bool is_br_tag(std::string_view inside) {
    size_t n = 0;
    while (n < inside.size() && !is_space(static_cast<unsigned char>(inside[n])) && inside[n] != '/') ++n;
    std::string_view name = inside.substr(0, n);
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return ieq(name, "br");
}

// Which bytes stop a run of character data that is copied as it is: markup always, and where
// whitespace collapses, the blanks other than a space (a second space in a row is found apart).
// `view` adds what rules out handing the text back as a view: references and NUL.
using StopTable = std::array<bool, 256>;
constexpr StopTable make_stops(bool collapse, bool view) {
    StopTable t{};
    t['<'] = t['>'] = true;
    if (collapse) t['\t'] = t['\n'] = t['\r'] = true;
    if (view) t['&'] = t['\0'] = true;
    return t;
}
constexpr StopTable kCopyStops[2] = {make_stops(false, false), make_stops(true, false)};
constexpr StopTable kViewStops[2] = {make_stops(false, true), make_stops(true, true)};

// The first byte at or after p that `stops` holds, or with `collapse` the first of two spaces.
// Sixteen bytes a step where the machine allows it: most character data holds none of them.
const char* next_stop(const char* p, const char* end, const StopTable& stops, bool collapse) {
#if defined(__SSE2__)
    const bool view = stops['&'];
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    while (end - p > 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(eq(v, '<'), eq(v, '>'));
        if (view) hit = _mm_or_si128(hit, _mm_or_si128(eq(v, '&'), eq(v, '\0')));
        if (collapse) {
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
            hit = _mm_or_si128(hit, _mm_or_si128(_mm_or_si128(eq(v, '\t'), eq(v, '\n')), eq(v, '\r')));
            hit = _mm_or_si128(hit, _mm_and_si128(eq(v, ' '), eq(next, ' ')));
        }
        if (const int mask = _mm_movemask_epi8(hit); mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (stops[c]) return p;
        if (collapse && c == ' ' && p + 1 < end && p[1] == ' ') return p;
    }
    return end;
}

} // namespace

namespace {

// The character data of `range` (see xml_text_decode). With `runs`, every stretch copied as it
// is gets logged, and `clean` tells how far the output still sits where the copies put it.
std::string_view decode_markup(std::string_view range, std::string& buf, TextRules rules,
                               std::vector<MarkupText::Run>* runs, size_t* clean) {
    const char* p = range.data();
    const char* const end = p + range.size();
    const bool collapse = rules.collapse_space;
    // Plain text is handed back as a view of itself (the store then keeps it without a copy);
    // otherwise the part already scanned holds nothing to change and is not scanned again.
    const char* const stop = next_stop(p, end, kViewStops[collapse], collapse);
    if (stop == end && range.size() <= kTextMax) return trim(range);
    buf.resize(kTextMax + 1);
    if (runs) runs->clear();
    char* out = buf.data();
    size_t w = 0;
    const StopTable& stops = kCopyStops[collapse];
    while (p < end && w < kTextMax) {
        // A run to copy as it is, up to the next byte that needs a look. A space at its start
        // still collapses into one just written.
        if (collapse && w > 0 && out[w - 1] == ' ')
            while (p < end && *p == ' ') ++p;
        const char* const q = next_stop(std::max(p, stop), end, stops, collapse);
        const size_t n = std::min(static_cast<size_t>(q - p), kTextMax - w);
        if (n != 0) {
            std::memcpy(out + w, p, n);
            if (runs) runs->push_back({w, p, n});
        }
        w += n;
        p += n;
        if (p != q || p == end) break;
        const char c = *p++;
        if (c == '<') {
            const void* gt = std::memchr(p, '>', static_cast<size_t>(end - p));
            if (!gt) break;
            const auto* close = static_cast<const char*>(gt);
            if (rules.br_breaks && is_br_tag(std::string_view(p, static_cast<size_t>(close - p)))) out[w++] = '\n';
            p = close + 1;
        } else if (collapse && is_space(static_cast<unsigned char>(c))) {
            if (w == 0 || out[w - 1] != ' ') out[w++] = ' ';
        }
        // A stray '>' is dropped.
    }
    if (clean) {
        // References are decoded from the first '&' on, and a NUL ends the text.
        size_t i = 0;
        while (i < w && out[i] != '&' && out[i] != '\0') ++i;
        *clean = i;
    }
    w = html_decode(out, w);
    return trim(std::string_view(out, w));
}

} // namespace

std::string_view xml_text_decode(std::string_view range, std::string& buf, TextRules rules) {
    return decode_markup(range, buf, rules, nullptr, nullptr);
}

std::string_view MarkupText::decode(std::string_view range, TextRules rules) {
    text_ = decode_markup(range, buf_, rules, &runs_, &clean_);
    copied_ = !buf_.empty() && text_.data() >= buf_.data() && text_.data() <= buf_.data() + buf_.size();
    return text_;
}

std::string_view MarkupText::source_of(std::string_view piece, size_t& run) const {
    const auto at = static_cast<size_t>(piece.data() - buf_.data());
    if (at + piece.size() > clean_) return piece;
    while (run < runs_.size() && runs_[run].out + runs_[run].len <= at) ++run;
    if (run == runs_.size() || runs_[run].out > at || at + piece.size() > runs_[run].out + runs_[run].len) return piece;
    return {runs_[run].src + (at - runs_[run].out), piece.size()};
}

int MarkupText::add_to(Store& st, int index) const {
    if (!copied_) return cue_add_text(st, index, text_);
    // Each line a slice of the source where it was copied whole; lines come in order.
    struct Search {
        const MarkupText* text;
        size_t run;
    } search{this, 0};
    const auto find = [](void* context, std::string_view line) {
        auto* s = static_cast<Search*>(context);
        return s->text->source_of(line, s->run);
    };
    return cue_add_text(st, index, text_, {find, &search});
}

} // namespace cuekit
