// The memory functions for blocks handed to the TWAIN application, and the
// entry points the source manager passed with DAT_ENTRYPOINT.
//
// Each call uses the source manager's function when g_entryPoints holds one,
// otherwise the operating system's movable-handle memory (GlobalAlloc family
// on Windows; a zero-filled malloc on POSIX). The choice is made per call.
#pragma once

#include "kivds/protocol/Twain.h"

namespace kiv {

extern twain::TW_ENTRYPOINT g_entryPoints;

twain::TW_HANDLE MemAllocate(twain::TW_UINT32 size);
twain::TW_MEMREF MemLock(twain::TW_HANDLE handle);
bool MemUnlock(twain::TW_HANDLE handle);
bool MemFree(twain::TW_HANDLE handle);

// Unlocks a handle obtained through MemLock when it goes out of scope.
class MemLockGuard {
public:
    explicit MemLockGuard(twain::TW_HANDLE handle) : handle_(handle), data_(handle ? MemLock(handle) : nullptr) {}
    ~MemLockGuard() {
        if (data_) MemUnlock(handle_);
    }
    MemLockGuard(const MemLockGuard&) = delete;
    MemLockGuard& operator=(const MemLockGuard&) = delete;
    twain::TW_MEMREF Data() const { return data_; }

private:
    twain::TW_HANDLE handle_;
    twain::TW_MEMREF data_;
};

}  // namespace kiv
