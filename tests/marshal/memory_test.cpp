// Repeated conversions leave the process's private bytes flat: every buffer
// and array the conversions create, and every array they replace, is freed.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "api/safearray_matrix.h"
#include "api/safearray_read.h"
#include "api/safearray_write.h"
#include "host_array.h"

namespace {

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

struct Payload {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(272, 0x5A);
    std::vector<CString> strings = {CString(L"FT232R USB UART"), CString(), CString(L"A1B2C3D4")};
    std::vector<long> longs = std::vector<long>(16, 0x12345678);
};

void ConvertOnce(const Payload& payload, SAFEARRAY* host, SAFEARRAY** out) {
    unsigned int count = 0;
    std::unique_ptr<unsigned short[]> shorts(SafeArrayToShorts(&host, &count));
    std::unique_ptr<unsigned char[]> bytes(SafeArrayToBytes(&host, &count));
    // Each writer replaces what the previous one left in *out.
    BytesToSafeArray(payload.bytes.data(), static_cast<long>(payload.bytes.size()), out);
    StringsToSafeArray(payload.strings, out);
    LongsToSafeArray(payload.longs, out);
    SAFEARRAY* matrix = CreateByteMatrix(272, 4);
    PutMatrixByte(matrix, 271, 3, 0xFF);
    SafeArrayDestroy(matrix);
}

} // namespace

TEST(MarshalMemory, TenThousandConversionsLeavePrivateBytesFlat) {
    Payload payload;
    SAFEARRAYBOUND bound = {272, 0};
    ArrayHolder host(SafeArrayCreate(VT_UI1, 1, &bound));
    ArrayHolder out;
    for (int i = 0; i < 200; ++i) ConvertOnce(payload, host.Get(), out.Out());

    const SIZE_T before = PrivateBytes();
    ASSERT_GT(before, 0u);
    const int rounds = 10000;
    for (int i = 0; i < rounds; ++i) ConvertOnce(payload, host.Get(), out.Out());
    const SIZE_T after = PrivateBytes();

    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    std::printf("[ marshal  ] private bytes before %llu, after %llu, growth %lld over %d rounds\n",
                static_cast<unsigned long long>(before), static_cast<unsigned long long>(after), growth, rounds);
    // One leaked 272-byte array per round would add well over 2.7 MB.
    EXPECT_LT(growth, 512 * 1024);
}
