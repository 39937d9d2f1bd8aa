#pragma once
// The link over a COM port: the port's own worker fills its buffer and sets
// its data event. Writes are not checked; a failed write surfaces as a
// time-out. Nothing is discarded at the port on a time-out.
#include "engine/link_transport.h"

class CSerialPort;

class SerialTransport : public LinkTransport {
public:
    explicit SerialTransport(CSerialPort* port) : m_port(port) {}

    bool WaitForData(HANDLE workEvent, unsigned int ms) override;
    int BytesWaiting() override;
    int ReadInto(unsigned char* dst, int count) override;
    unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool byteByByte) override;
    void DiscardInput() override {}
    bool WriteRaw(const char* bytes, int count) override;

private:
    CSerialPort* m_port;
};
