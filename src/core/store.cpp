// The lean cue store (see store.hpp).
#include "core/core.hpp"

#include <cstdarg>
#include <cstdio>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace cuekit {

#if defined(__linux__) && defined(MREMAP_MAYMOVE)
namespace {
constexpr size_t kMapped = size_t{1} << 20;

void* map_block(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void hint_huge(void* p, size_t bytes) {
#if defined(MADV_HUGEPAGE)
    (void)madvise(p, bytes, MADV_HUGEPAGE); // only a hint: refused, the block keeps small pages
#else
    (void)p;
    (void)bytes;
#endif
}
} // namespace

void* block_resize(void* old, size_t old_bytes, size_t new_bytes) {
    if (new_bytes < kMapped) return std::realloc(old, new_bytes);
    void* p = nullptr;
    if (old && old_bytes >= kMapped) {
        p = mremap(old, old_bytes, new_bytes, MREMAP_MAYMOVE);
        if (p == MAP_FAILED) return nullptr;
    } else {
        p = map_block(new_bytes);
        if (!p) return nullptr;
        if (old) std::memcpy(p, old, old_bytes);
        std::free(old);
    }
    hint_huge(p, new_bytes);
    return p;
}

void block_free(void* p, size_t bytes) {
    if (p && bytes >= kMapped) munmap(p, bytes);
    else std::free(p);
}
#else
void* block_resize(void* old, size_t, size_t new_bytes) { return std::realloc(old, new_bytes); }
void block_free(void* p, size_t) { std::free(p); }
#endif

void Store::set_text(std::string_view text, char* owned, TextForm form) {
    std::free(owned_text_);
    owned_text_ = owned;
    text_ = text;
    text_form_ = form;
}

char* Store::release_text() {
    char* p = owned_text_;
    owned_text_ = nullptr;
    return p;
}

bool Store::own_text() {
    if (owned_text_ || text_.empty()) return true;
    bool referenced = false;
    for (size_t i = 0; i < line_total() && !referenced; ++i)
        referenced = wide_ ? !wide_lines_[i].in_arena : !(lines_[i].len & LineRef::kInArena);
    if (!referenced) {
        text_ = {};
        return true;
    }
    auto* copy = static_cast<char*>(std::malloc(text_.size() + 1));
    if (!copy) return false;
    std::memcpy(copy, text_.data(), text_.size());
    copy[text_.size()] = '\0';
    set_text({copy, text_.size()}, copy, text_form_);
    return true;
}

void Store::reset() {
    clear_cues();
    set_text({}, nullptr);
    for (int32_t i = 0; i < warning_count; ++i) std::free(warnings[i]);
    warning_count = 0;
    format = SUB_FORMAT_AUTO;
    error[0] = '\0';
}

void Store::clear_cues() {
    lost_data = false;
    cues_.reset();
    lines_.reset();
    wide_lines_.reset();
    wide_ = false;
    danmaku_.reset();
    arena_.reset();
    peak_ = 0;
}

detail::Records Store::records() const {
    detail::Records r;
    r.cues = cues_.data();
    r.count = cues_.size();
    r.lines = lines_.data();
    r.wide_lines = wide_ ? wide_lines_.data() : nullptr;
    r.danmaku = danmaku_.size() ? danmaku_.data() : nullptr;
    r.text = text_.data();
    r.arena = arena_.data();
    return r;
}

namespace {
constexpr DanmakuRecord kPlainCue{0, 0, 25.0f, 0};
} // namespace

int Store::add_cue(int32_t start_ms, int32_t end_ms) {
    // Indexes are ints at the interface, as in the C records.
    if (cues_.size() >= static_cast<size_t>(INT32_MAX) || !cues_.push({start_ms, end_ms, 0, 0})) return -1;
    if (danmaku_.size() && !danmaku_.push(kPlainCue)) {
        cues_.shrink_to(cues_.size() - 1);
        return -1;
    }
    const size_t i = cues_.size() - 1;
    cues_[i].first_line = static_cast<uint32_t>(line_total());
    if (cues_.size() > peak_) peak_ = cues_.size();
    return static_cast<int>(i);
}

bool Store::widen() {
    WideLineRef* w = wide_lines_.extend(lines_.size() + 1); // room for the line that asked too
    if (!w) return false;
    for (size_t k = 0; k < lines_.size(); ++k) {
        const LineRef& l = lines_[k];
        w[k] = {l.off, l.len & LineRef::kLenMask, (l.len & LineRef::kInArena) ? 1u : 0u};
    }
    wide_lines_.added(lines_.size());
    lines_.reset();
    wide_ = true;
    return true;
}

bool Store::push_line(uint64_t off, uint32_t len, bool in_arena) {
    if (!wide_ && off <= narrow_limit_ && len <= LineRef::kLenMask && len <= narrow_limit_)
        return lines_.push({static_cast<uint32_t>(off), len | (in_arena ? LineRef::kInArena : 0u)});
    if (!wide_ && !widen()) return false;
    return wide_lines_.push({off, len, in_arena ? 1u : 0u});
}

int Store::add_line(int index, std::string_view s) {
    if (index < 0 || static_cast<size_t>(index) + 1 != cues_.size()) return -1;
    CueRecord& c = cues_[static_cast<size_t>(index)];
    if (s.size() > UINT32_MAX || line_total() >= UINT32_MAX || c.line_count >= static_cast<uint32_t>(INT32_MAX))
        return -1;
    // An empty line needs no bytes anywhere.
    uint64_t off = 0;
    bool in_arena = true;
    const char* base = text_.data();
    const bool in_text = base && s.data() >= base && s.data() + s.size() <= base + text_.size();
    if (!s.empty() && in_text) {
        off = static_cast<uint64_t>(s.data() - base);
        in_arena = false;
    } else if (!s.empty()) {
        char* p = arena_.extend(s.size());
        if (!p) return -1;
        std::memcpy(p, s.data(), s.size());
        off = arena_.size();
        arena_.added(s.size());
    }
    if (!push_line(off, static_cast<uint32_t>(s.size()), in_arena)) {
        if (in_arena && !s.empty()) arena_.shrink_to(off);
        return -1;
    }
    ++c.line_count;
    return 0;
}

void Store::drop_last() {
    if (cues_.size() == 0) return;
    const CueRecord& c = cues_[cues_.size() - 1];
    lines_.shrink_to(c.first_line);
    wide_lines_.shrink_to(c.first_line);
    cues_.shrink_to(cues_.size() - 1);
    danmaku_.shrink_to(cues_.size());
}

bool Store::set_danmaku(int index, const DanmakuRecord& d) {
    if (index < 0 || static_cast<size_t>(index) >= cues_.size()) return false;
    if (danmaku_.size() == 0) {
        // The first comment: every cue so far gets the plain cue's values.
        DanmakuRecord* p = danmaku_.extend(cues_.size());
        if (!p) return false;
        for (size_t i = 0; i < cues_.size(); ++i) p[i] = kPlainCue;
        danmaku_.added(cues_.size());
    }
    danmaku_[static_cast<size_t>(index)] = d;
    return true;
}

int cue_add(Store& st, int32_t start_ms, int32_t end_ms) {
    const int i = st.add_cue(start_ms, end_ms);
    if (i < 0) {
        set_error(st, "oom");
        st.lost_data = true;
    }
    return i;
}

int cue_add_line(Store& st, int index, std::string_view s) {
    // An index that is no cue (a refused cue_add) is the caller's -1, not a new refusal.
    if (index < 0) return -1;
    if (st.add_line(index, s) == 0) return 0;
    st.lost_data = true;
    return -1;
}

namespace {

// The next LF or CR at or after `from`, or the text's size. Stored texts are mostly short
// lines without either, so eight bytes are tested at a time for both (a word holds a byte
// equal to b when word ^ b*ones has a zero byte).
size_t next_break(std::string_view text, size_t from) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    auto has_zero_byte = [](uint64_t w) { return ((w - kOnes) & ~w & kHighs) != 0; };
    size_t i = from;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, text.data() + i, 8);
        if (has_zero_byte(w ^ (kOnes * '\n')) || has_zero_byte(w ^ (kOnes * '\r'))) break;
    }
    for (; i < text.size(); ++i)
        if (text[i] == '\n' || text[i] == '\r') return i;
    return text.size();
}

} // namespace

int cue_add_text(Store& st, int index, std::string_view text, LineFinder finder) {
    const auto add = [&](std::string_view line) {
        return cue_add_line(st, index, finder.find ? finder.find(finder.context, line) : line);
    };
    size_t brk = next_break(text, 0);
    if (brk == text.size()) return add(text) == 0 ? 1 : -1;
    int stored = 0;
    for (size_t from = 0;; brk = next_break(text, from)) {
        if (const std::string_view piece = trim(text.substr(from, brk - from)); !piece.empty()) {
            if (add(piece) != 0) return -1;
            ++stored;
        }
        if (brk == text.size()) return stored;
        from = brk + 1;
    }
}

void drop_last_cue(Store& st) { st.drop_last(); }

uint32_t cue_line_count(const Store& st, int index) { return st.line_count(index); }

int finish_parse(Store& st, sub_format id, bool found, const char* no_cues_error) {
    if (found) {
        st.format = id;
        return SUB_OK;
    }
    set_error(st, "%s", no_cues_error);
    return SUB_ERR_PARSE;
}

} // namespace cuekit
