#pragma once
// The link to the tool: the receive buffer and scan, the transmit cycle with
// its time limits, keep-alive and rate changes, and raw writes for the host.
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
    // The rate the command asks the link to take after it is written, 0 for
    // none; sets or clears m_baudChanged accordingly.
    uint32_t DecideRateChange(eCommand kind, const std::vector<unsigned char>& bytes);
    // The link is idle and the port does not hold sending back.
    bool ReadyToSend();
    void RunKeepAlive(int elapsed);
    void MakeLinkIdle();
    // Empties the receive buffer and zero-fills it.
    void DiscardReceived();
    // Marks the in-flight head abandoned, files it in the finished map,
    // drops it from the queue and wakes whoever waits for it. replace: a
    // fresh copy overwrites an existing finished entry; otherwise that entry
    // is only marked abandoned. Takes the lock; callers that must change more
    // in the same step hold it already.
    void AbandonHead(bool replace);
    // Sets the link rate on a port that changes rate, logging line first.
    void SetLinkRate(uint32_t rate, const std::string& line);
    bool LinkChangesRate() const { return m_transport && m_transport->ChangesRate(); }

    unsigned char* m_rxBuffer;
    int m_rxCount;
    bool m_baudChanged;
    volatile bool m_keepAlive;
    int m_keepAliveCountdown;

private:
    void FtdiRecovery();
};
