#pragma once
// The small window shown while a tool-memory download runs: a progress bar
// over the pages, "Block n of m", an estimate of the time left, and Cancel.
// Without a window system (no display) it cannot be created; the download
// then runs with the same record and timing and no window.
#include <windows.h>

#include <cstdint>

#include "api/download_progress.h"

INT_PTR CALLBACK DownloadDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Places the window in the middle of the desktop work area; it stays where
// it is when the work area cannot be read.
void CenterWindowInWorkArea(HWND window, int width, int height);

// Called on every poll of the download with the robot object's received-page
// count: dispatches the thread's messages and, at most every 200 ms, shows
// the count, the block line and the estimate. Nothing when the window has no
// record attached.
void UpdateDownloadProgress(HWND window, unsigned long count);

// The same for a record with or without a window (window may be null).
void AdvanceDownloadProgress(DownloadProgress& progress, HWND window, unsigned long count);

// Creates the window hidden from the library's resources, attaches the
// record, centres and shows it. Null when no window can be made.
HWND CreateProgressWindow(DownloadProgress& progress);

// Hides the window, lets the foreground window repaint, destroys it.
void RemoveProgressWindow(HWND window);
