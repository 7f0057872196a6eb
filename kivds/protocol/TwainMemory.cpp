#include "kivds/protocol/TwainMemory.h"

#include "kivds/platform/GlobalMemory.h"

namespace kiv {

twain::TW_ENTRYPOINT g_entryPoints{};

twain::TW_HANDLE MemAllocate(twain::TW_UINT32 size) {
    if (g_entryPoints.DSM_MemAllocate) return g_entryPoints.DSM_MemAllocate(size);
    return GlobalMemAlloc(size);
}

twain::TW_MEMREF MemLock(twain::TW_HANDLE handle) {
    if (g_entryPoints.DSM_MemLock) return g_entryPoints.DSM_MemLock(handle);
    return GlobalMemLock(handle);
}

bool MemUnlock(twain::TW_HANDLE handle) {
    if (g_entryPoints.DSM_MemUnlock) {
        g_entryPoints.DSM_MemUnlock(handle);
        return true;
    }
    return GlobalMemUnlock(handle);
}

bool MemFree(twain::TW_HANDLE handle) {
    if (g_entryPoints.DSM_MemFree) {
        g_entryPoints.DSM_MemFree(handle);
        return true;
    }
    GlobalMemFree(handle);
    return true;
}

}  // namespace kiv
