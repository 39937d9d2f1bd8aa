#pragma once
// The robot object a host creates: the link plus reply handling and the
// bookkeeping of page reads.
#include <cstdint>
#include <set>

#include "engine/robot_link.h"

class CRobotTool : public CRobotLink {
public:
    CRobotTool();
    ~CRobotTool() override;

    void HandleReply(char* bytes, int length) override;
    void OnTimeout() override;

    // Builds and issues one flash-page read; 0 while an earlier page read
    // still expects pages.
    int ReadFlashPages(int firstPage, int pageCount, int baudRate, bool flag, const wchar_t* address);

    int GetPagesReceived() const { return m_pagesReceived; }
    void ResetPagesReceived() { m_pagesReceived = 0; }
    bool ExpectsPages();

protected:
    // CRobotTool's rate fall-back for an abandoned command of the given kind.
    void RateFallbackTool(eCommand kind);
    // Back to 38400 once the last page of a switched page read is in.
    void RestoreRateAfterPages();

    std::set<int32_t> m_expectedPages;
    volatile int m_pagesReceived;
};
