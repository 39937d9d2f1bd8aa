#pragma once
// Whether the calling thread holds the loader lock, as it does inside any
// DllMain. A thread cannot finish exiting while another holds that lock, so
// code that waits for a thread to end must not wait while holding it.
bool LoaderLockHeldByThisThread();
