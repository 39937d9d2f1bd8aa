#pragma once
// The tool-memory download as a host calls it: one page-read request, the
// download into a page list (for callers sharing the library's runtime), and
// the download into a byte matrix (for automation hosts).
#include <windows.h>
#include <oleauto.h>

#include "api/download_page_list.h"
#include "api/robot_handle.h"
#include "engine/vx_api.h"

// One page read of pageCount pages (at most 128) from firstPage; the command
// ID, or 0 while an earlier page read still expects pages.
VX_API long __stdcall ROBOT_ReadFlashPages(RobotHandle robot, long firstPage, long pageCount, long baudRate, long flag,
                                           const wchar_t* address);

// The pages of the list, each frame as received; null when nothing was read
// (no robot or port, failure, cancel). *error: -1 cancelled, else 0.
VX_API PageList* __stdcall ROBOT_ReadToolMemory(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                                long flag, long* error, const wchar_t* address);
VX_API PageList* __stdcall ROBOT_ReadToolMemory(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                                long flag, long* error);

// The pages as a rows-by-width VT_UI1 matrix in *out (an array held there is
// kept); returns the rows, 0, or -1 when cancelled.
VX_API long __stdcall ROBOT_ReadToolMemorySA(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                             long flag, SAFEARRAY** out);
VX_API long __stdcall ROBOT_ReadToolMemorySAAddressed(RobotHandle robot, SAFEARRAY** pages, long baudRate,
                                                      long timeoutMs, long flag, SAFEARRAY** out,
                                                      const wchar_t* address);
