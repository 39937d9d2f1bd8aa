#include "framework/worker_thread.h"

#include <process.h>

#include <new>

namespace {

struct StartBlock {
    WorkerFunction fn;
    void* param;
};

unsigned __stdcall ThreadEntry(void* raw) {
    StartBlock block = *static_cast<StartBlock*>(raw);
    delete static_cast<StartBlock*>(raw);
    return block.fn(block.param);
}

} // namespace

HANDLE BeginWorkerThread(WorkerFunction fn, void* param, DWORD* threadId) {
    StartBlock* block = new (std::nothrow) StartBlock{fn, param};
    if (!block) return nullptr;
    unsigned id = 0;
    const uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadEntry, block, 0, &id);
    if (handle == 0) {
        delete block;
        return nullptr;
    }
    if (threadId) *threadId = id;
    return reinterpret_cast<HANDLE>(handle);
}
