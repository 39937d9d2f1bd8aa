#include "framework/loader_lock.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>

bool LoaderLockHeldByThisThread() {
    // The process environment block points at the loader lock at the same
    // place in every Windows since XP, and in Wine.
#ifdef _WIN64
    constexpr std::size_t kLoaderLockOffset = 0x110;
#else
    constexpr std::size_t kLoaderLockOffset = 0xA0;
#endif
// GCC takes the segment-relative read of NtCurrentTeb for a read of address 0.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const BYTE* peb = reinterpret_cast<const BYTE*>(NtCurrentTeb()->ProcessEnvironmentBlock);
#pragma GCC diagnostic pop
    if (!peb) return false;
    const RTL_CRITICAL_SECTION* lock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + kLoaderLockOffset);
    return lock && HandleToULong(lock->OwningThread) == GetCurrentThreadId();
}
