// download: flash pages into a file, one page frame (272 bytes) per row.
#include <cstdio>
#include <set>
#include <vector>

#include "tools/vornexctl/commands.h"
#include "tools/vornexctl/exit_codes.h"
#include "tools/vornexctl/output_file.h"
#include "tools/vornexctl/progress_meter.h"
#include "tools/vornexctl/robot_session.h"

namespace {

DWORD g_downloadThread = 0;

// Ctrl+C during the download: a quit message, which the download takes as
// Cancel (the same as the window's button) and hands back.
BOOL WINAPI CancelOnCtrlC(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        PostThreadMessageW(g_downloadThread, WM_QUIT, 0, 0);
        return TRUE;
    }
    return FALSE;
}

// Rows x 2 integers: (first page, page count) per run.
SAFEARRAY* PageListArray(const std::vector<PageRun>& runs) {
    SAFEARRAYBOUND bounds[2];
    bounds[0].cElements = static_cast<ULONG>(runs.size());
    bounds[0].lLbound = 0;
    bounds[1].cElements = 2;
    bounds[1].lLbound = 0;
    SAFEARRAY* list = SafeArrayCreate(VT_I4, 2, bounds);
    if (!list) return nullptr;
    for (size_t i = 0; i < runs.size(); ++i) {
        LONG first[2] = {static_cast<LONG>(i), 0};
        LONG count[2] = {static_cast<LONG>(i), 1};
        LONG firstPage = runs[i].first;
        LONG pageCount = runs[i].count;
        if (FAILED(SafeArrayPutElement(list, first, &firstPage)) || FAILED(SafeArrayPutElement(list, count, &pageCount))) {
            SafeArrayDestroy(list);
            return nullptr;
        }
    }
    return list;
}

// The page matrix row by row: element (row, column) lies at
// row + column * rows, the first index varying fastest.
bool MatrixRows(SAFEARRAY* matrix, long& rows, long& width, std::vector<uint8_t>& bytes) {
    if (!matrix || SafeArrayGetDim(matrix) != 2) return false;
    LONG lower = 0, upper = -1, lower2 = 0, upper2 = -1;
    SafeArrayGetLBound(matrix, 1, &lower);
    SafeArrayGetUBound(matrix, 1, &upper);
    SafeArrayGetLBound(matrix, 2, &lower2);
    SafeArrayGetUBound(matrix, 2, &upper2);
    rows = upper - lower + 1;
    width = upper2 - lower2 + 1;
    if (rows <= 0 || width <= 0) return false;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(matrix, &data))) return false;
    const uint8_t* cells = static_cast<const uint8_t*>(data);
    bytes.resize(static_cast<size_t>(rows) * width);
    for (long r = 0; r < rows; ++r)
        for (long c = 0; c < width; ++c)
            bytes[static_cast<size_t>(r) * width + c] = cells[r + static_cast<size_t>(c) * rows];
    SafeArrayUnaccessData(matrix);
    return true;
}

// Page number of a page frame: bytes 6..9, least significant first.
int32_t PageNumber(const uint8_t* frame) {
    return static_cast<int32_t>(frame[6] | frame[7] << 8 | frame[8] << 16 | static_cast<uint32_t>(frame[9]) << 24);
}

std::wstring TemporaryLogPath() {
    wchar_t folder[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(folder) + L"vornexctl-" + std::to_wstring(GetCurrentProcessId()) + L".log";
}

} // namespace

int RunDownload(VornexLibrary& vx, const CtlCommand& command) {
    const std::vector<int32_t> wanted = WantedPages(command.pages);
    std::string error;

    // The file's folder is checked before the tool is asked for anything.
    OutputFile output;
    if (!output.Create(command.outputPath, error)) return Fail(kExitFileFailed, error);

    // Progress without a window comes from the log, so a download always has one.
    const bool ownLog = command.logPath.empty();
    const std::wstring logPath = ownLog ? TemporaryLogPath() : command.logPath;
    struct LogCleanup {
        std::wstring path;
        ~LogCleanup() {
            if (!path.empty()) DeleteFileW(path.c_str());
        }
    } cleanup{ownLog ? logPath : std::wstring()};

    RobotSession session(vx);
    int code = 0;
    if (!session.Open(command, logPath, error, code)) return Fail(code, error);

    SAFEARRAY* pages = PageListArray(command.pages);
    if (!pages) return Fail(kExitNoAnswer, "cannot build the page list (out of memory)");
    SAFEARRAY* matrix = nullptr;

    g_downloadThread = GetCurrentThreadId();
    SetConsoleCtrlHandler(CancelOnCtrlC, TRUE);
    ProgressMeter meter(static_cast<long>(wanted.size()), logPath);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    meter.Start();
    const long result = vx.ReadToolMemory(session.Robot(), &pages, command.rate,
                                          static_cast<long>(command.timeoutMs), command.sumCheck ? 0 : 1, &matrix);
    const double seconds = SecondsSince(start);
    meter.Stop(result > 0 ? static_cast<long>(wanted.size()) : -1);
    SetConsoleCtrlHandler(CancelOnCtrlC, FALSE);
    SafeArrayDestroy(pages);
    session.Close();
    // A quit that cancelled the download was handed back; it ends this program anyway.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);

    if (result < 0) {
        if (matrix) SafeArrayDestroy(matrix);
        return Fail(kExitCancelled, "download cancelled; nothing written");
    }
    long rows = 0;
    long width = 0;
    std::vector<uint8_t> bytes;
    const bool read = result > 0 && MatrixRows(matrix, rows, width, bytes);
    if (matrix) SafeArrayDestroy(matrix);
    if (!read)
        return Fail(kExitNoAnswer, "download failed: the tool did not deliver the pages (more than 10 failed "
                                   "requests, see --log); nothing written");

    std::set<int32_t> missing(wanted.begin(), wanted.end());
    if (width >= 10)
        for (long r = 0; r < rows; ++r) missing.erase(PageNumber(&bytes[static_cast<size_t>(r) * width]));
    if (!missing.empty())
        return Fail(kExitNoAnswer, "download incomplete: " + std::to_string(missing.size()) + " of " +
                                       std::to_string(wanted.size()) + " pages missing (first: " +
                                       std::to_string(*missing.begin()) + "); nothing written");

    if (!output.Write(bytes.data(), bytes.size(), error) || !output.Commit(error)) return Fail(kExitFileFailed, error);

    const double kb = static_cast<double>(bytes.size()) / 1000.0;
    std::printf("downloaded %ld pages (%lu bytes, %ld per page) to %s\n", rows, static_cast<unsigned long>(bytes.size()),
                width, Printable(command.outputPath).c_str());
    std::printf("throughput: %.1f kB/s, %.1f pages/s (%.2f s)\n", seconds > 0 ? kb / seconds : 0.0,
                seconds > 0 ? rows / seconds : 0.0, seconds);
    return kExitOk;
}
