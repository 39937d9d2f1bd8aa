#pragma once
// Starts a worker thread running fn(param) at once, with normal priority and
// the default stack. The worker keeps the module holding this code loaded
// until its last instruction in it. Returns the thread's handle (the caller
// closes it), or null when the thread could not be created.
#include <windows.h>

typedef unsigned int (*WorkerFunction)(void* param);

HANDLE BeginWorkerThread(WorkerFunction fn, void* param, DWORD* threadId = nullptr);
