#pragma once
// The tool-memory download: the host's page list becomes a set of wanted
// pages, requested in runs of up to 64 consecutive pages until every page is
// in, the host cancels, or more than ten failures have been counted. Runs on
// the calling thread, with the progress window up.
#include <windows.h>
#include <oleauto.h>

#include "api/download_page_list.h"
#include "engine/robot_tool.h"

namespace download {
constexpr int kMaxFailures = 10;  // one more ends the download
constexpr long kFinished = 1;
constexpr long kFailed = 0;
constexpr long kCancelled = -1;
} // namespace download

// Appends the pages read to pageList and returns kFinished, kFailed (no port,
// a refused page list, too many failures, the worker not running) or
// kCancelled. After a failure or a cancel the list holds nothing.
long DownloadToolMemory(CRobotTool* robot, PageList& pageList, SAFEARRAY** pages, long baudRate, long timeoutMs,
                        bool flag, const wchar_t* address);
