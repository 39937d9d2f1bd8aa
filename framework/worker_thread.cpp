#include "framework/worker_thread.h"

#include <process.h>

#include <new>

namespace {

struct StartBlock {
    WorkerFunction fn;
    void* param;
    // A reference on the module holding this code, taken by the creating
    // thread and given up by the worker as its very last act, so that a host
    // unloading the library while a worker still leaves it cannot pull the
    // code from under that worker.
    HMODULE module;
};

unsigned __stdcall ThreadEntry(void* raw) {
    StartBlock block = *static_cast<StartBlock*>(raw);
    delete static_cast<StartBlock*>(raw);
    const unsigned int result = block.fn(block.param);
    if (block.module) FreeLibraryAndExitThread(block.module, result);
    return result;
}

} // namespace

HANDLE BeginWorkerThread(WorkerFunction fn, void* param, DWORD* threadId) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadEntry), &module))
        module = nullptr;
    StartBlock* block = new (std::nothrow) StartBlock{fn, param, module};
    unsigned id = 0;
    const uintptr_t handle = block ? _beginthreadex(nullptr, 0, &ThreadEntry, block, 0, &id) : 0;
    if (handle == 0) {
        delete block;
        if (module) FreeLibrary(module);
        return nullptr;
    }
    if (threadId) *threadId = id;
    return reinterpret_cast<HANDLE>(handle);
}
