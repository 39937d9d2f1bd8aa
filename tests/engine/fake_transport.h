#pragma once
// A transport the engine tests control: bytes to deliver, writes captured.
#include <deque>
#include <string>
#include <vector>

#include "engine/link_transport.h"
#include "protocol/command_frame.h"

class FakeTransport : public LinkTransport {
public:
    struct Write {
        std::vector<unsigned char> bytes;
        bool toolInfo;
        bool byteByByte;
    };

    bool WaitForData(HANDLE, unsigned int) override { return !incoming.empty(); }
    int BytesWaiting() override { return static_cast<int>(incoming.size()); }
    int ReadInto(unsigned char* dst, int count) override {
        int n = 0;
        while (n < count && !incoming.empty()) {
            dst[n++] = incoming.front();
            incoming.pop_front();
        }
        return n;
    }
    bool AcceptsSending() override { return connected; }
    unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool byteByByte) override {
        writes.push_back(Write{bytes, toolInfo, byteByByte});
        if (failNextWrite) {
            failNextWrite = false;
            return kFtIoError;
        }
        return 0;
    }
    void SwitchRateAfterWrite(uint32_t rate) override { events.push_back("switch " + std::to_string(rate)); rate_ = rate; }
    void SetRate(uint32_t rate, const std::string& line) override { events.push_back(line); rate_ = rate; }
    bool ChangesRate() const override { return changesRate; }
    void Recover(uint32_t vendor, uint32_t product) override {
        events.push_back("recover " + std::to_string(vendor) + " " + std::to_string(product));
        rate_ = 38400;
    }
    void DiscardInput() override { events.push_back("discard"); }
    bool WriteRaw(const char* bytes, int count) override {
        raw.assign(bytes, bytes + count);
        return rawResult;
    }

    void Deliver(const std::vector<unsigned char>& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
    void DeliverFrame(const wchar_t* payload) { Deliver(EncodeCommand(payload, wcslen(payload), false, false)); }

    std::deque<unsigned char> incoming;
    std::vector<Write> writes;
    std::vector<std::string> events;
    std::string raw;
    bool connected = true;
    bool changesRate = false;
    bool failNextWrite = false;
    bool rawResult = true;
    uint32_t rate_ = 38400;
};
