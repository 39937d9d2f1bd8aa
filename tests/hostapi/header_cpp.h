#pragma once
// What header_cpp.cpp, which sees only vornex.h, hands to the test.
#include <vector>

#include "header_addresses.h"

// The plain-named declarations, as C++ sees them.
std::vector<VornexDeclared> PlainDeclarationsFromCxx();

struct CxxOnlyDeclarations {
    std::vector<VornexDeclared> byReference;  // FTDI functions taking the port by reference
    std::vector<VornexDeclared> download;     // ROBOT_ReadFlashPages and the C++ names of the download
    VornexAnyFunction openByReference = nullptr;  // OpenFTDIDevice(CFTDIPort&, ...)
};
CxxOnlyDeclarations CxxOnlyDeclarationsFromCxx();

// A command sent by a robot without a port, read once abandoned through the
// header's CRobotCommand.
struct AbandonedRecordView {
    long id = 0;
    bool found = false;
    int recordId = 0;
    long kind = -1;
    bool abandoned = false;
    bool complete = true;
    bool addressed = true;
    int parts = -1;
    bool dataIsNull = false;
    int size = -1;
    bool walkStarted = true;
    bool walkMoved = true;
    bool waitReturnsIt = false;
    bool deleted = false;
    bool destroyed = false;
};
AbandonedRecordView ReadAbandonedRecordThroughHeader(unsigned int timeoutMs, unsigned int waitMs);
