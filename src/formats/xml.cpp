// The parts of an XML document that hold no elements: comments, CDATA sections, processing
// instructions and declarations such as a document type. Tag scanners step over them, and
// character data that holds any is flattened before it is decoded.
#include "formats/formats.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cuekit {

namespace {
constexpr std::string_view kComment = "<!--";
constexpr std::string_view kCdata = "<![CDATA[";

constexpr bool opens_construct(const char* p) { return p[0] == '<' && (p[1] == '!' || p[1] == '?'); }

} // namespace

// Markup has a '<' every few dozen bytes, so the pair is looked for sixteen bytes a step
// rather than '<' by '<'.
size_t xml_find_construct(std::string_view text, size_t from) {
    if (text.size() < 2) return std::string_view::npos;
    const char* const begin = text.data();
    const char* p = begin + std::min(from, text.size());
    const char* const last = begin + text.size() - 1; // a pair starts before it
#if defined(__SSE2__)
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    for (; last - p >= 16; p += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i hit = _mm_and_si128(eq(a, '<'), _mm_or_si128(eq(b, '!'), eq(b, '?')));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0)
            return static_cast<size_t>(p - begin) + static_cast<size_t>(std::countr_zero(mask));
    }
#endif
    for (; p < last; ++p)
        if (opens_construct(p)) return static_cast<size_t>(p - begin);
    return std::string_view::npos;
}

size_t xml_construct_end(std::string_view text, size_t at) {
    const std::string_view rest = text.substr(at);
    const auto past = [&](size_t from, std::string_view close) {
        const size_t end = text.find(close, from);
        return end == std::string_view::npos ? text.size() : end + close.size();
    };
    if (rest.starts_with(kComment)) return past(at + kComment.size(), "-->");
    if (rest.starts_with(kCdata)) return past(at + kCdata.size(), "]]>");
    // A processing instruction or a declaration ends at its '>': a declaration missing its
    // '?' must not hide the document. An internal subset ('[' … ']') may hold '>' signs.
    const size_t gt = text.find('>', at + 2);
    // The subset is looked for only up to that '>', so no byte is read twice.
    const size_t bracket = rest[1] == '!' ? text.substr(0, gt).find('[', at + 2) : std::string_view::npos;
    if (bracket != std::string_view::npos) {
        const size_t close = text.find(']', bracket + 1);
        return close == std::string_view::npos ? text.size() : past(close + 1, ">");
    }
    return gt == std::string_view::npos ? text.size() : gt + 1;
}

size_t XmlConstructs::next(size_t from) {
    if (!searched_ || (at_ != std::string_view::npos && at_ < from)) {
        at_ = xml_find_construct(text_, from);
        searched_ = true;
    }
    return at_;
}

size_t XmlElements::next_lt(size_t from, bool& crossed) const {
    const size_t n = text_.size();
    while (from < n) {
        const void* hit = std::memchr(text_.data() + from, '<', n - from);
        if (!hit) break;
        const auto lt = static_cast<size_t>(static_cast<const char*>(hit) - text_.data());
        if (lt + 1 >= n || (text_[lt + 1] != '!' && text_[lt + 1] != '?')) return lt;
        from = xml_construct_end(text_, lt);
        crossed = true;
    }
    return std::string_view::npos;
}

bool XmlElements::opens(size_t lt, std::string_view what) const {
    const std::string_view rest = text_.substr(lt);
    return exact_ ? rest.starts_with(what) : istarts_with(rest, what);
}

bool XmlElements::next_tag(std::string_view& tag, size_t max_tag) {
    constexpr auto npos = std::string_view::npos;
    bool crossed = false;
    for (size_t lt = next_lt(pos_, crossed); lt != npos; lt = next_lt(pos_, crossed)) {
        pos_ = lt + 1;
        if (!opens(lt, open_)) continue;
        const size_t name_end = lt + open_.size();
        if (name_ends_ && (name_end >= text_.size() || (text_[name_end] != ' ' && text_[name_end] != '>'))) continue;
        const size_t gt = text_.find('>', name_end);
        if (gt == npos) return false; // an unterminated start tag ends the scan
        tag = text_.substr(lt, std::min(gt + 1 - lt, max_tag));
        gt_ = gt;
        pos_ = gt + 1;
        return true;
    }
    pos_ = text_.size();
    return false;
}

bool XmlElements::body(std::string_view& inner, std::string& buf) {
    if (no_close_) return false;
    bool crossed = false;
    size_t close = next_lt(pos_, crossed);
    while (close != std::string_view::npos && !opens(close, close_)) close = next_lt(close + 1, crossed);
    if (close == std::string_view::npos) {
        no_close_ = true;
        return false;
    }
    inner = text_.substr(pos_, close - pos_);
    if (crossed) inner = xml_flatten(inner, buf);
    pos_ = close + close_.size();
    return true;
}

std::string_view xml_flatten(std::string_view range, std::string& buf) {
    buf.clear();
    size_t from = 0;
    for (size_t at = xml_find_construct(range, 0); at != std::string_view::npos; at = xml_find_construct(range, from)) {
        buf.append(range, from, at - from);
        const size_t end = xml_construct_end(range, at);
        if (range.substr(at).starts_with(kCdata)) {
            // Its text, escaped so that the decoder takes it as it stands.
            const size_t close = range.substr(at, end - at).ends_with("]]>") ? end - 3 : end;
            for (const char c : range.substr(at + kCdata.size(), close - at - kCdata.size())) {
                if (c == '<')
                    buf += "&lt;";
                else if (c == '>')
                    buf += "&gt;";
                else if (c == '&')
                    buf += "&amp;";
                else
                    buf += c;
            }
        }
        from = end;
    }
    buf.append(range, std::min(from, range.size()));
    return buf;
}

} // namespace cuekit
