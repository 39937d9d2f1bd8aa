#pragma once
// The one seam between the link and whichever port is attached. The robot
// object keeps its three port pointers; at attach time it also picks the
// adapter for that port kind, so that Receive and Transmit read as the
// protocol they implement while each port's own rules stay in its adapter.
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

// Where adapters write their diagnostic lines (the robot object's log).
class LinkLog {
public:
    virtual void WriteLog(const std::string& line) = 0;

protected:
    ~LinkLog() = default;
};

class LinkTransport {
public:
    virtual ~LinkTransport() = default;

    // Waits up to ms for port input or the work event; then reports whether
    // unread bytes are waiting (the outcome of the wait itself does not count).
    virtual bool WaitForData(HANDLE workEvent, unsigned int ms) = 0;
    virtual int BytesWaiting() = 0;
    // Reads up to count bytes into dst; returns the number read.
    virtual int ReadInto(unsigned char* dst, int count) = 0;
    // False while sending must wait (a TCP port that is not connected).
    virtual bool AcceptsSending() { return true; }

    // Writes a command's bytes, the tool-info preamble first when asked.
    // byteByByte: the command changes the link rate (only the FTDI device
    // cares). Returns the D2XX-style status of the frame write, 0 elsewhere.
    virtual unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool byteByByte) = 0;
    // After a rate-change frame has been written: waits until it has left,
    // then sets the link to rate. Only an FTDI device changes rate.
    virtual void SwitchRateAfterWrite(uint32_t rate) {}
    // Sets the link rate at once, writing line to the log first.
    virtual void SetRate(uint32_t rate, const std::string& line) {}
    virtual bool ChangesRate() const { return false; }
    // Recovery after an input/output error of a frame write (FTDI only).
    virtual void Recover(uint32_t vendorId, uint32_t productId) {}
    // Drops unread input when a command is abandoned.
    virtual void DiscardInput() = 0;
    // Raw bytes from the host, outside the queues.
    virtual bool WriteRaw(const char* bytes, int count) = 0;
};

// The status an FTDI device reports for an input/output error; it alone
// starts the recovery.
constexpr unsigned long kFtIoError = 4;
// The tool-info preamble: 95 bytes 0xA5 and one 0x00.
std::vector<unsigned char> ToolInfoPreamble();
