// Seam: the operating system's movable-handle memory, used for blocks handed
// to a TWAIN application when its source manager supplied no memory functions.
// Windows: GlobalAlloc(GPTR) / GlobalLock / GlobalUnlock / GlobalFree.
// POSIX: a zero-filled malloc whose handle is its own pointer (lock returns it,
// unlock does nothing), as the Linux TWAIN source manager does.
#pragma once

#include <cstddef>

namespace kiv {

void* GlobalMemAlloc(std::size_t size);  // zero-filled; null on failure
void* GlobalMemLock(void* handle);       // null for a null handle
bool GlobalMemUnlock(void* handle);      // true when the block is no longer locked
void GlobalMemFree(void* handle);

}  // namespace kiv
