#include "host/mapping.hpp"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace host {
namespace {

// The mappings open now, for the signal handler to tell a fault in one of them from any
// other. Lock-free: the handler may run on any thread at any moment.
struct Slot {
    std::atomic<uintptr_t> begin{0}; // 0: free; 1: being filled
    std::atomic<std::size_t> size{0};
    std::atomic<bool> changed{false};
};
constexpr std::size_t kSlots = 256;
std::array<Slot, kSlots> g_slots;
uintptr_t g_page = 4096;
struct sigaction g_previous {};

void on_bus(int sig, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Slot& s : g_slots) {
        const uintptr_t begin = s.begin.load(std::memory_order_acquire);
        const std::size_t size = s.size.load(std::memory_order_relaxed);
        if (begin <= 1 || at < begin || at - begin >= size) continue;
        // The file ends before this page now. Zeros in place of the rest of the mapping let
        // the reader run to its end; the result is thrown away afterwards.
        const uintptr_t from = at & ~(g_page - 1);
        const uintptr_t to = (begin + size + g_page - 1) & ~(g_page - 1);
        // The address is a page of our own mapping, as the slot says.
        void* const page = reinterpret_cast<void*>(from); // NOLINT(performance-no-int-to-ptr)
        if (mmap(page, to - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            break;
        s.changed.store(true, std::memory_order_relaxed);
        return;
    }
    // Not a mapped input: whatever handled the signal before does now.
    sigaction(SIGBUS, &g_previous, nullptr);
    if (info->si_code <= 0) { // sent, not raised by a fault that would come again on return
        raise(sig);
    } else if (g_previous.sa_flags & SA_SIGINFO && g_previous.sa_sigaction) {
        g_previous.sa_sigaction(sig, info, context);
    }
}

bool install() {
    if (const long page = sysconf(_SC_PAGESIZE); page > 0) g_page = static_cast<uintptr_t>(page);
    struct sigaction action {};
    action.sa_sigaction = on_bus;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &g_previous) == 0;
}

} // namespace

std::unique_ptr<Mapping> Mapping::map(int fd, std::size_t size) {
    static const bool guarded = install();
    if (!guarded) return nullptr;
    for (std::size_t i = 0; i < kSlots; ++i) {
        uintptr_t free = 0;
        if (!g_slots[i].begin.compare_exchange_strong(free, 1)) continue;
        void* m = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (m == MAP_FAILED) {
            g_slots[i].begin.store(0);
            return nullptr;
        }
        g_slots[i].size.store(size, std::memory_order_relaxed);
        g_slots[i].changed.store(false, std::memory_order_relaxed);
        g_slots[i].begin.store(reinterpret_cast<uintptr_t>(m), std::memory_order_release);
        return std::unique_ptr<Mapping>(new Mapping(static_cast<const char*>(m), size, i));
    }
    return nullptr;
}

bool Mapping::changed() const { return g_slots[slot_].changed.load(std::memory_order_relaxed); }

Mapping::~Mapping() {
    g_slots[slot_].begin.store(1, std::memory_order_release);
    munmap(const_cast<char*>(data_), size_);
    g_slots[slot_].begin.store(0, std::memory_order_release);
}

} // namespace host
