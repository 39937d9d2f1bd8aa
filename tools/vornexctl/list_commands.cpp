// ports and ftdi: what is attached to this machine.
#include <cstdio>
#include <vector>

#include "tools/vornexctl/commands.h"
#include "tools/vornexctl/exit_codes.h"
#include "tools/vornexctl/robot_session.h"

namespace {

std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// The elements of a one-dimensional array the library made (lower bound 0).
long VectorLength(SAFEARRAY* array) {
    if (!array || SafeArrayGetDim(array) != 1) return 0;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    return upper >= lower ? upper - lower + 1 : 0;
}

std::vector<std::wstring> StringVector(SAFEARRAY* array) {
    std::vector<std::wstring> out;
    for (LONG i = 0; i < VectorLength(array); ++i) {
        BSTR text = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(array, &i, &text))) {
            out.push_back(FromBstr(text));
            SysFreeString(text);
        } else {
            out.push_back(std::wstring());
        }
    }
    return out;
}

std::vector<long> IntegerVector(SAFEARRAY* array) {
    std::vector<long> out;
    for (LONG i = 0; i < VectorLength(array); ++i) {
        INT value = 0;
        out.push_back(SUCCEEDED(SafeArrayGetElement(array, &i, &value)) ? value : 0);
    }
    return out;
}

} // namespace

int RunPorts(VornexLibrary& vx) {
    const int count = vx.GetPortCount();
    if (count <= 0) {
        std::printf("no COM ports\n");
        return kExitOk;
    }
    for (int index = 1; index <= count; ++index) {
        BSTR description = vx.GetPortDescription(index);
        const std::string text = ToAnsi(FromBstr(description));
        SysFreeString(description);
        std::printf("COM%-4d %s\n", vx.GetPortNumber(index), text.c_str());
    }
    return kExitOk;
}

int RunFtdi(VornexLibrary& vx) {
    if (!FtdiLibraryPresent()) return Fail(kExitLinkFailed, "Ftd2xx.dll not found: the FTDI D2XX driver is not installed");
    SAFEARRAY* descriptions = nullptr;
    SAFEARRAY* comPorts = nullptr;
    SAFEARRAY* indexes = nullptr;
    SAFEARRAY* locations = nullptr;
    SAFEARRAY* serials = nullptr;
    const long count = vx.FtdiEnumerate(&descriptions, &comPorts, &indexes, &locations, &serials);
    const std::vector<std::wstring> descriptionList = StringVector(descriptions);
    const std::vector<std::wstring> serialList = StringVector(serials);
    const std::vector<long> comList = IntegerVector(comPorts);
    const std::vector<long> indexList = IntegerVector(indexes);
    const std::vector<long> locationList = IntegerVector(locations);
    for (SAFEARRAY* array : {descriptions, comPorts, indexes, locations, serials})
        if (array) SafeArrayDestroy(array);

    const size_t rows = static_cast<size_t>(count > 0 ? count : 0);
    if (rows == 0 || descriptionList.size() < rows || serialList.size() < rows || comList.size() < rows ||
        indexList.size() < rows || locationList.size() < rows) {
        std::printf("no FTDI devices\n");
        return kExitOk;
    }
    std::printf("%-6s %-10s %-6s %-16s %s\n", "index", "location", "COM", "serial", "description");
    for (size_t i = 0; i < rows; ++i) {
        const std::string com = comList[i] > 0 ? "COM" + std::to_string(comList[i]) : "-";
        std::printf("%-6ld 0x%08lX %-6s %-16s %s\n", indexList[i], static_cast<unsigned long>(locationList[i]),
                    com.c_str(), ToAnsi(serialList[i]).c_str(), ToAnsi(descriptionList[i]).c_str());
    }
    return kExitOk;
}
