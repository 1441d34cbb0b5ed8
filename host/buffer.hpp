// A byte buffer of the C heap that grows by realloc: a large one grows in place or by
// remapping its pages, without a second copy in memory, and its new room is never cleared.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace host {

class GrowBuffer {
public:
    char* data() const { return p_.get(); }
    std::size_t capacity() const { return cap_; }
    // Room for at least n bytes, the bytes so far kept; false when memory ran out.
    bool reserve(std::size_t n) {
        if (n <= cap_) return true;
        void* grown = std::realloc(p_.get(), n);
        if (!grown) return false;
        static_cast<void>(p_.release()); // realloc took it over
        p_.reset(static_cast<char*>(grown));
        cap_ = n;
        return true;
    }
    void clear() {
        p_.reset();
        cap_ = 0;
    }

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, Free> p_;
    std::size_t cap_ = 0;
};

} // namespace host
