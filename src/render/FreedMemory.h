#pragma once

// Mesa's software rasterizer allocates and frees blocks of memory in every draw call. With glibc's
// defaults, each free that leaves 128 KiB at the top of the heap gives it back to the kernel and
// the next draw faults it in again: a sixth of a busy frame's CPU. While frames are drawn, freed
// memory is kept for reuse; when drawing stops, it is handed back.
namespace tallyloft {

// Keeps up to 32 MiB of freed memory for reuse (process-wide; the renderer calls it). Whether the
// allocator took the setting.
bool keepFreedMemoryForReuse();
// Hands freed memory back to the system: for when no frame will be drawn for a while.
void releaseFreedMemory();

}  // namespace tallyloft
