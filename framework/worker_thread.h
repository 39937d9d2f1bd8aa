#pragma once
// Starts a worker thread running fn(param) at once, with normal priority and
// the default stack. Returns the thread's handle (the caller closes it), or
// null when the thread could not be created.
#include <windows.h>

typedef unsigned int (*WorkerFunction)(void* param);

HANDLE BeginWorkerThread(WorkerFunction fn, void* param, DWORD* threadId = nullptr);
