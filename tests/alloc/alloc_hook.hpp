// Allocation hook of the allocation-failure test: while armed, the k-th allocation of any
// kind fails, and the blocks still live are counted so that a leak shows in any build.
#pragma once

#include <cstddef>

namespace alloc_hook {

// Arms the hook: allocation number `fail_at` (1-based, counted from now) fails; 0 fails none.
void arm(long fail_at);
// Counts again, without resetting the counts and without failing: for the frees of what the
// armed run left behind.
void resume();
// Disarms it; returns whether the chosen allocation was reached (and failed).
bool disarm();
// Blocks allocated since arm() and not freed yet (frees of older blocks are not counted).
long live_blocks();
// Allocations seen since the last arm().
long seen();

} // namespace alloc_hook
