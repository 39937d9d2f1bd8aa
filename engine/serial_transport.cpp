#include "engine/serial_transport.h"

#include "ports/serial_port.h"

bool SerialTransport::WaitForData(HANDLE workEvent, unsigned int ms) {
    HANDLE events[2] = {m_port->GetEvent(), workEvent};
    if (events[0]) WaitForMultipleObjects(2, events, FALSE, ms);
    return m_port->BytesAvailable() != 0;
}

int SerialTransport::BytesWaiting() { return m_port->BytesAvailable(); }

int SerialTransport::ReadInto(unsigned char* dst, int count) {
    return m_port->Read(reinterpret_cast<char*>(dst), count);
}

unsigned long SerialTransport::WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool) {
    if (toolInfo) {
        std::vector<unsigned char> preamble = ToolInfoPreamble();
        m_port->Write(reinterpret_cast<char*>(preamble.data()), static_cast<int>(preamble.size()));
    }
    std::vector<unsigned char> frame(bytes);
    if (!frame.empty()) m_port->Write(reinterpret_cast<char*>(frame.data()), static_cast<int>(frame.size()));
    return 0;
}

bool SerialTransport::WriteRaw(const char* bytes, int count) {
    return m_port->Write(bytes, count) == count;
}
