#pragma once
// What the download and its progress window share for one download. The
// download owns it; the window finds it through its user data.
#include <cstdint>

struct DownloadProgress {
    uint32_t m_firstCount;   // received-page count when the download started
    uint32_t m_lastCount;    // m_firstCount plus the pages wanted
    uint32_t m_startTick;    // when counting started (the last poll before the first page)
    uint32_t m_lastUpdate;   // tick of the last refresh of the texts and the bar
    volatile bool m_cancel;  // Cancel pressed, or the quit message seen
    uint32_t m_baudRate;     // link rate, for the plausibility of the estimate
};
