#include "api/progress_window.h"

#include <commctrl.h>

#include <string>

#include "api/message_wait.h"
#include "engine/tick_source.h"
#include "framework/module_state.h"
#include "protocol/progress_estimate.h"
#include "resources/resource.h"

namespace {

DownloadProgress* AttachedRecord(HWND window) {
    if (!window) return nullptr;
    return reinterpret_cast<DownloadProgress*>(GetWindowLongPtrW(window, DWLP_USER));
}

// The texts are plain ASCII.
void SetItemText(HWND window, int id, const std::string& text) {
    const std::wstring wide(text.begin(), text.end());
    SetDlgItemTextW(window, id, wide.c_str());
}

} // namespace

INT_PTR CALLBACK DownloadDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        DownloadProgress* progress = AttachedRecord(window);
        if (progress) {
            progress->m_cancel = true;
            return TRUE;
        }
    }
    return FALSE;
}

void CenterWindowInWorkArea(HWND window, int width, int height) {
    RECT area;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return;
    const int edge = GetSystemMetrics(SM_CXEDGE);
    const int x = area.right / 2 - width / 2 - edge;
    const int y = area.bottom / 2 - height / 2 - GetSystemMetrics(SM_CXFIXEDFRAME);
    MoveWindow(window, x, y, width + edge, height + edge, TRUE);
}

void UpdateDownloadProgress(HWND window, unsigned long count) {
    DownloadProgress* progress = AttachedRecord(window);
    if (!progress) return;
    AdvanceDownloadProgress(*progress, window, count);
}

void AdvanceDownloadProgress(DownloadProgress& progress, HWND window, unsigned long count) {
    if (count == 0) {
        // Nothing received yet: the estimate's clock starts at the last poll
        // before the first page.
        if (window) {
            SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE32, progress.m_firstCount, progress.m_lastCount);
            SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, progress.m_firstCount, 0);
        }
        const uint32_t now = EngineTickCount();
        progress.m_startTick = now;
        progress.m_lastUpdate = now - 100;
    }

    if (!PumpPendingMessages()) progress.m_cancel = true;

    const uint32_t now = EngineTickCount();
    if (!ProgressRefreshDue(now, progress.m_lastUpdate)) return;
    progress.m_lastUpdate = now;

    ProgressInput in;
    in.firstCount = progress.m_firstCount;
    in.lastCount = progress.m_lastCount;
    in.count = static_cast<uint32_t>(count);
    in.startTick = progress.m_startTick;
    in.lastUpdate = progress.m_lastUpdate;
    in.baudRate = progress.m_baudRate;
    in.cancel = progress.m_cancel;
    const ProgressTexts texts = EstimateProgress(in);

    if (!window) return;
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(count), 0);
    SetItemText(window, IDC_BLOCK_TEXT, texts.block);
    SetItemText(window, IDC_TIME_TEXT, texts.time);
}

HWND CreateProgressWindow(DownloadProgress& progress) {
    HWND window = CreateDialogParamW(CurrentResourceInstance(), MAKEINTRESOURCEW(IDD_DOWNLOAD_PROGRESS), nullptr,
                                     DownloadDialogProc, 0);
    if (!window) return nullptr;
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(&progress));
    RECT rect;
    if (GetWindowRect(window, &rect))
        CenterWindowInWorkArea(window, rect.right - rect.left, rect.bottom - rect.top);
    ShowWindow(window, SW_SHOW);
    return window;
}

void RemoveProgressWindow(HWND window) {
    if (!window) return;
    ShowWindow(window, SW_HIDE);
    // The host's window under ours repaints now, not at its next idle moment.
    HWND foreground = GetForegroundWindow();
    if (foreground) RedrawWindow(foreground, nullptr, nullptr, RDW_UPDATENOW);
    DestroyWindow(window);
}
