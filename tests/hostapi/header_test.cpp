// vornex.h, compiled as C and as C++, against the real DLL: every plain
// declaration is the export of that name, the C++-only declarations link, and
// the header's types carry calls and results both ways.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "header_addresses.h"
#include "header_cpp.h"

namespace {

HMODULE Library() { return GetModuleHandleW(L"vornex.dll"); }

// Where a call through address lands: a function address the linker could
// not take from the import table is a stub in this program, "jmp
// *[rip+offset]" through the import table slot.
void* CallTarget(VornexAnyFunction address) {
    const unsigned char* code = reinterpret_cast<const unsigned char*>(address);
    if (!code || code[0] != 0xFF || code[1] != 0x25) return reinterpret_cast<void*>(address);
    int32_t offset;
    std::memcpy(&offset, code + 2, sizeof offset);
    void* const* slot = reinterpret_cast<void* const*>(code + 6 + offset);
    return *slot;
}

void ExpectEachIsTheExportOfItsName(const std::vector<VornexDeclared>& declared) {
    for (const VornexDeclared& d : declared) {
        const FARPROC exported = GetProcAddress(Library(), d.name);
        EXPECT_NE(exported, nullptr) << d.name;
        EXPECT_EQ(CallTarget(d.address), reinterpret_cast<void*>(exported)) << d.name;
    }
}

} // namespace

TEST(Header, EveryPlainDeclarationInCIsTheExportOfThatName) {
    ASSERT_NE(Library(), nullptr);
    std::vector<VornexDeclared> declared(128);
    const int count = VornexHeaderAddressesFromC(declared.data(), static_cast<int>(declared.size()));
    ASSERT_GT(count, 0);
    ASSERT_LE(count, static_cast<int>(declared.size()));
    declared.resize(static_cast<size_t>(count));
    ExpectEachIsTheExportOfItsName(declared);
}

TEST(Header, EveryPlainDeclarationInCxxIsTheExportOfThatName) {
    const std::vector<VornexDeclared> declared = PlainDeclarationsFromCxx();
    ExpectEachIsTheExportOfItsName(declared);
    // C++ adds the two record-returning functions to what C declares.
    std::vector<VornexDeclared> fromC(128);
    const int countC = VornexHeaderAddressesFromC(fromC.data(), static_cast<int>(fromC.size()));
    EXPECT_EQ(static_cast<int>(declared.size()), countC + 2);
}

TEST(Header, CxxOnlyDeclarationsLinkAndMatchTheirPlainAliases) {
    const CxxOnlyDeclarations d = CxxOnlyDeclarationsFromCxx();
    for (const VornexDeclared& f : d.byReference) EXPECT_NE(f.address, nullptr) << f.name;
    for (const VornexDeclared& f : d.download) EXPECT_NE(f.address, nullptr) << f.name;
    // FTDI_Open is the plain name of the by-reference OpenFTDIDevice.
    EXPECT_EQ(CallTarget(d.openByReference), reinterpret_cast<void*>(GetProcAddress(Library(), "FTDI_Open")));
    // The matrix download's C++ names are the functions behind its plain names.
    ASSERT_EQ(d.download.size(), 5u);
    EXPECT_EQ(CallTarget(d.download[3].address), reinterpret_cast<void*>(GetProcAddress(Library(), "ROBOT_ReadToolMemory")));
    EXPECT_EQ(CallTarget(d.download[4].address),
              reinterpret_cast<void*>(GetProcAddress(Library(), "ROBOT_ReadToolMemoryAddressed")));
    // The page-list overloads are neither the matrix function nor each other.
    EXPECT_NE(CallTarget(d.download[1].address), CallTarget(d.download[3].address));
    EXPECT_NE(CallTarget(d.download[2].address), CallTarget(d.download[3].address));
    EXPECT_NE(CallTarget(d.download[1].address), CallTarget(d.download[2].address));
}

TEST(Header, CallsFromCGetTheResultsTheHeaderPromises) { EXPECT_EQ(VornexHeaderSmokeFromC(), 0); }

TEST(Header, TheHeadersRecordClassReadsAnAbandonedCommand) {
    const AbandonedRecordView v = ReadAbandonedRecordThroughHeader(200, 5000);
    ASSERT_GT(v.id, 0);
    ASSERT_TRUE(v.found);
    EXPECT_EQ(v.recordId, v.id);
    EXPECT_EQ(v.kind, 2);  // an ordinary command
    EXPECT_TRUE(v.abandoned);
    EXPECT_FALSE(v.complete);
    EXPECT_FALSE(v.addressed);
    EXPECT_EQ(v.parts, 0);
    EXPECT_TRUE(v.dataIsNull);
    EXPECT_EQ(v.size, 0);
    EXPECT_FALSE(v.walkStarted);
    EXPECT_FALSE(v.walkMoved);
    EXPECT_TRUE(v.waitReturnsIt);
    EXPECT_TRUE(v.deleted);
    EXPECT_TRUE(v.destroyed);
}
