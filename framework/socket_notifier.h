#pragma once
// Routes socket notifications: one hidden message-only window per thread,
// created on demand, and a table from socket to object. Each registration
// gets its own message number, so a message still queued for a closed socket
// never reaches a new socket that reuses the handle value.
#include <winsock2.h>
#include <windows.h>

class CAsyncSocket;

class CSocketNotifier {
public:
    // The calling thread's notification window; null if it cannot be made.
    static HWND WindowOfThisThread();
    // Routes the events of socket to object through window; returns the
    // message number to give WSAAsyncSelect, or 0 on failure.
    static UINT Register(SOCKET socket, CAsyncSocket* object);
    // Ends the routing of socket. Waits while a handler runs on another thread,
    // so that afterwards no handler of the object runs or will run.
    static void Unregister(SOCKET socket);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
