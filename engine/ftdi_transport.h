#pragma once
// The link over an FTDI device through the D2XX binding. The device has no
// buffer of ours: bytes are read from its receive queue. Rate-change frames
// are written one byte per call, the rate is switched once the transmit
// queue has drained, an input/output error runs the recovery sequence, and a
// time-out resets and purges the device.
#include "engine/link_transport.h"

class CFTDIPort;

class FtdiTransport : public LinkTransport {
public:
    // How long the link waits for the transmit queue to drain before it
    // switches the rate anyway: a device that stops draining (unplugged)
    // must not hang the worker.
    static constexpr DWORD kDrainLimitMs = 1000;

    FtdiTransport(CFTDIPort* port, HANDLE rxEvent, LinkLog& log) : m_port(port), m_rxEvent(rxEvent), m_log(log) {}

    bool WaitForData(HANDLE workEvent, unsigned int ms) override;
    int BytesWaiting() override;
    int ReadInto(unsigned char* dst, int count) override;
    unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool byteByByte) override;
    void SwitchRateAfterWrite(uint32_t rate) override;
    void SetRate(uint32_t rate, const std::string& line) override;
    bool ChangesRate() const override { return true; }
    void Recover(uint32_t vendorId, uint32_t productId) override;
    void DiscardInput() override;
    bool WriteRaw(const char* bytes, int count) override;

    // Waits until the transmit queue is empty, the status is not 0, or
    // limitMs have passed; pauseMs after each poll (0: no pause). True when
    // the queue drained.
    static bool WaitForTransmitDrain(CFTDIPort* port, DWORD limitMs, DWORD pauseMs);

private:
    CFTDIPort* m_port;
    HANDLE m_rxEvent;
    LinkLog& m_log;
};
