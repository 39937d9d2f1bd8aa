#pragma once
// The link to the tool: the receive buffer and scan, the transmit cycle with
// its time limits and keep-alive, and raw writes for the host.
#include <string>
#include <vector>

#include "engine/robot_base.h"

class CRobotLink : public CRobotBase {
public:
    static constexpr int kRxBufferSize = 30720;

    CRobotLink();
    ~CRobotLink() override;

    bool Receive() override;
    void Transmit(int elapsed) override;
    bool IsBusy() override;
    void OnTimeout() override;
    virtual bool WriteToPort(char* bytes, int count);
    virtual void SetKeepAlive(bool on) { m_keepAlive = on; }

    bool GetKeepAlive() const { return m_keepAlive; }
    int GetKeepAliveCountdown() const { return m_keepAliveCountdown; }

protected:
    // What Transmit needs of the in-flight head, copied under the lock
    // because a detaching host thread may empty the queue meanwhile.
    struct HeadCommand {
        CString text;
        eCommand kind;
        int id;
        bool addressed;
        bool preFramed;
    };

    // Frames the head and writes it on the attached port.
    void SendHead(const HeadCommand& head);
    // The link is idle and no TCP port holds sending back.
    bool ReadyToSend();
    void RunKeepAlive(int elapsed);
    void MakeLinkIdle();
    // Empties the receive buffer and zero-fills it.
    void DiscardReceived();
    // Stores a copy of the in-flight head, abandoned, in the finished map and
    // drops it from the queue. replace: overwrite an existing finished entry.
    void AbandonHead(bool replace);

    // The attached transport, whichever it is (see robot_link_port.cpp).
    bool PortAcceptsSending();
    void WriteCommandBytes(const HeadCommand& head, const std::vector<unsigned char>& bytes);
    void DiscardPortInput();
    bool WriteRawToPort(char* bytes, int count);
    // CRobotLink's own rate fall-back after an abandoned rate change.
    void RateFallbackLink();

    unsigned char* m_rxBuffer;
    int m_rxCount;
    bool m_baudChanged;
    volatile bool m_keepAlive;
    int m_keepAliveCountdown;
};
