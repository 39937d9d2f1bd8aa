#pragma once
// The link over a port that keeps its own receive buffer and data event (the
// COM port and the TCP port): wait on the event, read the buffer, write the
// preamble and the frame as they are. Write results are not checked; a
// failed write surfaces as a time-out.
#include <vector>

#include "engine/link_transport.h"

template <typename Port>
class BufferedTransport : public LinkTransport {
public:
    explicit BufferedTransport(Port* port) : m_port(port) {}

    bool WaitForData(HANDLE workEvent, unsigned int ms) override {
        HANDLE events[2] = {DataEventOf(m_port), workEvent};
        if (events[0]) WaitForMultipleObjects(2, events, FALSE, ms);
        return m_port->BytesAvailable() != 0;
    }
    int BytesWaiting() override { return m_port->BytesAvailable(); }
    int ReadInto(unsigned char* dst, int count) override { return m_port->Read(reinterpret_cast<char*>(dst), count); }
    unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool) override {
        if (toolInfo) {
            const std::vector<unsigned char> preamble = ToolInfoPreamble();
            m_port->Write(reinterpret_cast<const char*>(preamble.data()), static_cast<int>(preamble.size()));
        }
        if (!bytes.empty()) m_port->Write(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
        return 0;
    }
    void DiscardInput() override {}
    bool WriteRaw(const char* bytes, int count) override { return m_port->Write(bytes, count) == count; }

protected:
    Port* m_port;
};
