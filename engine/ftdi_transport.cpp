#include "engine/ftdi_transport.h"

#include "ports/ftdi_port.h"
#include "protocol/rate_codes.h"

namespace {

constexpr unsigned long kPurgeBoth = 3;  // receive and transmit queues

} // namespace

bool FtdiTransport::WaitForData(HANDLE workEvent, unsigned int ms) {
    HANDLE events[2] = {m_rxEvent, workEvent};
    if (m_rxEvent) WaitForMultipleObjects(2, events, FALSE, ms);
    DWORD received = 0, queued = 0, eventStatus = 0;
    m_port->GetStatus(&received, &queued, &eventStatus);
    return received > 0;
}

int FtdiTransport::BytesWaiting() {
    DWORD received = 0;
    if (m_port->GetQueueStatus(&received) != 0) return 0;
    return static_cast<int>(received);
}

int FtdiTransport::ReadInto(unsigned char* dst, int count) {
    DWORD returned = 0;
    m_port->Read(dst, static_cast<DWORD>(count), &returned);
    return static_cast<int>(returned);
}

unsigned long FtdiTransport::WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool byteByByte) {
    std::vector<unsigned char> frame(bytes);
    DWORD written = 0;
    if (toolInfo) {
        std::vector<unsigned char> preamble = ToolInfoPreamble();
        m_port->Write(preamble.data(), static_cast<DWORD>(preamble.size()), &written);
    }
    unsigned long status = 0;
    DWORD total = 0;
    if (byteByByte) {
        // One byte per call, so that the rate switch can follow the frame's
        // last byte as closely as the driver allows.
        for (size_t i = 0; i < frame.size(); ++i) {
            written = 0;
            status = m_port->Write(&frame[i], 1, &written);
            total += written;
            if (status != 0) break;
        }
    } else if (!frame.empty()) {
        status = m_port->Write(frame.data(), static_cast<DWORD>(frame.size()), &total);
    }
    if (status != 0) m_log.WriteLog("****ftStatus=" + std::to_string(status));
    if (total != frame.size())
        m_log.WriteLog("****Short write " + std::to_string(total) + " vs " + std::to_string(frame.size()));
    return status;
}

bool FtdiTransport::WaitForTransmitDrain(CFTDIPort* port, DWORD limitMs, DWORD pauseMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD received = 0, queued = 0, eventStatus = 0;
        if (port->GetStatus(&received, &queued, &eventStatus) != 0) return false;
        // The pause follows every poll, the last one too: a queue that reads
        // empty may still have its last bytes leaving the chip.
        if (pauseMs) Sleep(pauseMs);
        if (queued == 0) return true;
        if (GetTickCount() - start >= limitMs) return false;
    }
}

void FtdiTransport::SwitchRateAfterWrite(uint32_t rate) {
    WaitForTransmitDrain(m_port, kDrainLimitMs, 0);
    SetRate(rate, "****2 Changing baud rate to" + std::to_string(rate));
}

void FtdiTransport::SetRate(uint32_t rate, const std::string& line) {
    m_log.WriteLog(line);
    m_port->SetBaudRate(rate);
}

void FtdiTransport::Recover(uint32_t vendorId, uint32_t productId) {
    m_port->Reload(static_cast<WORD>(vendorId), static_cast<WORD>(productId));
    m_port->ResetDevice();
    m_port->Purge(kPurgeBoth);
    m_port->SetTimeouts(5000, 5000);
    m_port->SetDataCharacteristics(8, 0, 0);
    m_port->SetBaudRate(kBaseRate);
    m_log.WriteLog("****1 Changing baud rate to" + std::to_string(kBaseRate));
}

void FtdiTransport::DiscardInput() {
    m_port->ResetDevice();
    m_port->Purge(kPurgeBoth);
}

bool FtdiTransport::WriteRaw(const char* bytes, int count) {
    DWORD written = 0;
    const unsigned long status = m_port->Write(const_cast<char*>(bytes), static_cast<DWORD>(count), &written);
    if (status != 0) m_log.WriteLog("****WriteToPort ftStatus=" + std::to_string(status));
    if (written != static_cast<DWORD>(count))
        m_log.WriteLog("****WriteToPort Short write " + std::to_string(written) + " vs " + std::to_string(count));
    if (status == kFtIoError) {
        DiscardInput();
        return false;
    }
    return written == static_cast<DWORD>(count);
}
