/* vornex.h: the flat exports of vornex.dll for host programs, in C and C++.
 *
 * A host creates a robot object, attaches one port to it, starts polling,
 * sends commands and fetches their replies by command ID:
 *
 *   ROBOT_HANDLE robot = ROBOT_Create();
 *   PORT_HANDLE port = ROBOT_AttachTcpPort(robot, L"127.0.0.1", 5000, 3000);
 *   ROBOT_StartPolling(robot);
 *   long id = ROBOT_SendCommand(robot, L"BE09");
 *   SAFEARRAY* reply = NULL;
 *   long size = ROBOT_WaitReplyBytes(robot, id, 2000, &reply);
 *   ...
 *   SafeArrayDestroy(reply);
 *   ROBOT_DeleteReply(robot, id);
 *   ROBOT_StopPolling(robot);
 *   ROBOT_Destroy(robot);
 *   ReleaseTcpPort(port);           (last: the robot object never frees a port)
 *
 * Every function in the C part is exported under the plain name declared,
 * which is what GetProcAddress finds; a host may instead link the import
 * library. The C++ part at the end (C++11 or later) declares the functions
 * reached through C++ names, and those only: they need a host built with the
 * same compiler as the library (mingw-w64 g++) and its import library.
 *
 * Arrays: every SAFEARRAY the library creates has lower bound 0 in every
 * dimension and belongs to the host (free it with SafeArrayDestroy). An array
 * already held in an out-pointer is destroyed and replaced, except by the
 * page matrix of ROBOT_ReadToolMemory / ROBOT_ReadToolMemoryAddressed, which
 * leaves it alone. Wide strings are UTF-16.
 *
 * Define VORNEX_NO_DLLIMPORT to declare the functions without
 * __declspec(dllimport) (for a host that resolves them some other way).
 */
#ifndef VORNEX_H
#define VORNEX_H

#include <windows.h>
#include <oleauto.h>

#if defined(VORNEX_NO_DLLIMPORT)
#define VORNEX_IMPORT
#else
#define VORNEX_IMPORT __declspec(dllimport)
#endif

/* True or false results: 1 or 0 in the whole 32-bit result register, so a
 * host may declare them as BOOL, int, bool or a VB Long. */
typedef int VORNEX_BOOL;

/* A robot object made by ROBOT_Create. */
typedef struct VornexRobot_* ROBOT_HANDLE;
/* A port made by an attach function: a COM port, a TCP connection or an
 * FTDI device. Release it with the release function of its kind. */
typedef struct VornexPort_* PORT_HANDLE;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Robot objects ------------------------------------------------------
 * Order: ROBOT_Create, one attach, optional settings, ROBOT_StartPolling,
 * commands, ROBOT_StopPolling, ROBOT_Destroy, then release the port. Every
 * ROBOT_ function accepts a null robot and then does nothing and returns
 * 0 / false / null. */

VORNEX_IMPORT ROBOT_HANDLE __stdcall ROBOT_Create(void);
VORNEX_IMPORT VORNEX_BOOL __stdcall ROBOT_Destroy(ROBOT_HANDLE robot);
VORNEX_IMPORT VORNEX_BOOL __stdcall ROBOT_StartPolling(ROBOT_HANDLE robot);
VORNEX_IMPORT void __stdcall ROBOT_StopPolling(ROBOT_HANDLE robot);
/* True when nothing is being sent, awaited or queued. */
VORNEX_IMPORT VORNEX_BOOL __stdcall ROBOT_IsIdle(ROBOT_HANDLE robot);
/* Reply time limit in ms (2000 until set). */
VORNEX_IMPORT void __stdcall ROBOT_SetTimeout(ROBOT_HANDLE robot, unsigned int ms);
/* Non-zero: a keep-alive command after 25 s of idle link. */
VORNEX_IMPORT void __stdcall ROBOT_SetKeepAlive(ROBOT_HANDLE robot, int on);
/* Opens a new log file (ANSI path), replacing any earlier one. */
VORNEX_IMPORT void __stdcall ROBOT_StartLogging(ROBOT_HANDLE robot, const char* path);

/* ---- Ports ----------------------------------------------------------------
 * An attach opens the port and gives it to the robot object, which then
 * drops every command and reply it held; the port attached before stays
 * open until released. A failed attach returns null and changes nothing.
 * Release functions return false for null. */

/* COM port n at 38400 baud, 8N1. */
VORNEX_IMPORT PORT_HANDLE __stdcall ROBOT_AttachSerialPort(ROBOT_HANDLE robot, int comPort);
VORNEX_IMPORT VORNEX_BOOL __stdcall ReleaseSerialPort(PORT_HANDLE port);
VORNEX_IMPORT VORNEX_BOOL __stdcall Serial_ReleasePort(PORT_HANDLE port);

/* Connects to host:tcpPort, dispatching this thread's window messages for at
 * most connectMs; null when not connected by then. With connectMs 0 the port
 * is returned at once, connecting, and is NOT attached to the robot object.
 * The socket's notifications arrive as messages of the calling thread. */
VORNEX_IMPORT PORT_HANDLE __stdcall ROBOT_AttachTcpPort(ROBOT_HANDLE robot, const wchar_t* host,
                                                       unsigned int tcpPort, unsigned int connectMs);
VORNEX_IMPORT VORNEX_BOOL __stdcall ReleaseTcpPort(PORT_HANDLE port);
VORNEX_IMPORT VORNEX_BOOL __stdcall TCP_ReleasePort(PORT_HANDLE port);

/* An FTDI device through Ftd2xx.dll: by exact description, by USB location,
 * or by device index; left at 38400 baud, 8N1. */
VORNEX_IMPORT PORT_HANDLE __stdcall ROBOT_AttachFTDIDevice(ROBOT_HANDLE robot, const wchar_t* description);
VORNEX_IMPORT PORT_HANDLE __stdcall ROBOT_AttachFTDIDeviceByLoc(ROBOT_HANDLE robot, unsigned long location);
VORNEX_IMPORT PORT_HANDLE __stdcall ROBOT_AttachFTDIDeviceByIndex(ROBOT_HANDLE robot, unsigned long index);
/* Closes the device and frees the port. */
VORNEX_IMPORT VORNEX_BOOL __stdcall ReleaseFTDIDevice(PORT_HANDLE port);
VORNEX_IMPORT VORNEX_BOOL __stdcall FTDI_Release(PORT_HANDLE port);

/* ---- Commands and replies -------------------------------------------------
 * Functions that issue a command return its ID (never 0), or 0 when nothing
 * was issued. A command that gets no good reply within the time limit ends
 * abandoned. */

/* Hex text, two digits per byte ("BE09"). */
VORNEX_IMPORT long __stdcall ROBOT_SendCommand(ROBOT_HANDLE robot, const wchar_t* text);
/* A one-dimensional array of integers (1, 2 or 4 bytes, any lower bound);
 * the low byte of each element is sent. Bytes beginning A5 5A are a whole
 * frame, sent unchanged. kind 0 is an ordinary command; other values are
 * the command kind itself (1: no reply awaited). 0 for an array that is
 * missing, not one-dimensional, or not of integers. */
VORNEX_IMPORT long __stdcall ROBOT_SendCommandBytes(ROBOT_HANDLE robot, SAFEARRAY** bytes, long kind);
/* The tool-information command ("BE09", 10-byte unframed reply). */
VORNEX_IMPORT long __stdcall ROBOT_GetToolInfo(ROBOT_HANDLE robot);
/* Writes bytes straight to the port, unframed: the first `length` when
 * 1 <= length <= element count, else the whole array. 1 written, 0 not,
 * -1 while the robot object is busy (nothing written). */
VORNEX_IMPORT long __stdcall ROBOT_WriteToPort(ROBOT_HANDLE robot, SAFEARRAY** bytes, long length);
/* Removes a finished command and its reply; false when there is none. */
VORNEX_IMPORT VORNEX_BOOL __stdcall ROBOT_DeleteReply(ROBOT_HANDLE robot, long id);
/* Never waits. A complete reply of one part (or none) goes to *reply as a
 * VT_I1 vector and its size is returned; a reply of several parts as a
 * VT_UI1 matrix (byte j of part k at (j, k), shorter parts zero-padded) and
 * the largest part size is returned. 0 when not finished (or no such ID),
 * -1 when abandoned, -2 when the matrix could not be made; in the first two
 * cases *reply is left as it was. */
VORNEX_IMPORT long __stdcall ROBOT_GetReplyBytes(ROBOT_HANDLE robot, long id, SAFEARRAY** reply);
/* Waits up to timeoutMs for the reply, then as ROBOT_GetReplyBytes but
 * always a VT_I1 vector (of a multi-part reply, only the part under the
 * reply walk). On a TCP link it dispatches this thread's messages while it
 * waits, and a timeout of 0 returns 0 at once. */
VORNEX_IMPORT long __stdcall ROBOT_WaitReplyBytes(ROBOT_HANDLE robot, long id, unsigned long timeoutMs,
                                                  SAFEARRAY** reply);

/* ---- Tool memory download ---------------------------------------------------
 * pages: a two-dimensional integer array, row i = (first page, page count).
 * The pages read go to *out as a VT_UI1 matrix of one row per page frame
 * (272 bytes wide for standard frames); *out is NOT destroyed first. Returns the rows, 0 on
 * failure, -1 when the user cancelled. A progress window with a Cancel
 * button is shown while it runs, on the calling thread. */
VORNEX_IMPORT long __stdcall ROBOT_ReadToolMemory(ROBOT_HANDLE robot, SAFEARRAY** pages, long baudRate,
                                                  long timeoutMs, long flag, SAFEARRAY** out);
/* The same for an addressed tool (the first five characters of address are
 * sent with each request). */
VORNEX_IMPORT long __stdcall ROBOT_ReadToolMemoryAddressed(ROBOT_HANDLE robot, SAFEARRAY** pages, long baudRate,
                                                           long timeoutMs, long flag, SAFEARRAY** out,
                                                           const wchar_t* address);

/* ---- FTDI devices -----------------------------------------------------------
 * port: a handle from ROBOT_AttachFTDIDevice*. Results are the D2XX status
 * codes (0 = OK). */

/* Opens the device whose description equals `description` exactly on the
 * given port (closing what it had open). Default calling convention. */
VORNEX_IMPORT VORNEX_BOOL OpenFTDIDevice(PORT_HANDLE port, const wchar_t* description);
VORNEX_IMPORT VORNEX_BOOL FTDI_Open(PORT_HANDLE port, const wchar_t* description);
/* The location ID the device was opened by (0 when opened by index or for a
 * null port). */
VORNEX_IMPORT long __stdcall FTDI_GetLocID(PORT_HANDLE port);
/* 0 for a null port. */
VORNEX_IMPORT long __stdcall FTDI_ResetDevice(PORT_HANDLE port);
VORNEX_IMPORT long __stdcall FTDI_CyclePort(PORT_HANDLE port);
/* 6 (invalid parameter) for a null port. */
VORNEX_IMPORT unsigned long __stdcall SetFTDIBaud(PORT_HANDLE port, unsigned long rate);
VORNEX_IMPORT unsigned long __stdcall FTDI_SetBaud(PORT_HANDLE port, unsigned long rate);
VORNEX_IMPORT unsigned long __stdcall SetFTDILatency(PORT_HANDLE port, unsigned long ms);
VORNEX_IMPORT unsigned long __stdcall FTDI_SetLatency(PORT_HANDLE port, unsigned long ms);
VORNEX_IMPORT unsigned long __stdcall SetFTDIUSBParameters(PORT_HANDLE port, unsigned long inSize,
                                                            unsigned long outSize);
VORNEX_IMPORT unsigned long __stdcall FTDI_SetUSBParameters(PORT_HANDLE port, unsigned long inSize,
                                                             unsigned long outSize);
/* The descriptions of the attached devices (at most ten) as a VT_BSTR
 * vector; 0 with *descriptions untouched when there are none. */
VORNEX_IMPORT long __stdcall FTDI_GetDeviceStrings(SAFEARRAY** descriptions);
/* Every device that can be opened now (an open one is left out): five
 * vectors of equal length, descriptions and serials VT_BSTR, COM port
 * numbers, device indexes and location IDs VT_INT. With none, all five
 * become empty arrays. Returns the count. */
VORNEX_IMPORT long __stdcall FTDI_Enumerate(SAFEARRAY** descriptions, SAFEARRAY** comPorts, SAFEARRAY** indexes,
                                            SAFEARRAY** locations, SAFEARRAY** serials);
/* major * 65536 + minor * 256 + build of Ftd2xx.dll's product version; 0
 * when it cannot be read. */
VORNEX_IMPORT long __stdcall FTDI_GetLibraryVersion(void);
/* State of the FTSER2K driver service (4: running), 0 when not active, -1 /
 * -2 when the service list cannot be read. */
VORNEX_IMPORT long __stdcall FTDI_GetDriverStatus(void);
/* Sends the rate-reset frame at the high rates a tool may be left at, then
 * returns the device to 38400. 1 when sent, 0 for a null port. */
VORNEX_IMPORT long __stdcall FTDI_ResetToolRate(PORT_HANDLE port);

/* ---- COM ports present --------------------------------------------------- */

/* Scans again and returns how many COM ports there are. */
VORNEX_IMPORT int __stdcall GetPortCount(void);
VORNEX_IMPORT int __stdcall Serial_GetPortCount(void);
/* "description (COMn)" for index 1 .. count as a new BSTR (free it with
 * SysFreeString); an empty BSTR outside. */
VORNEX_IMPORT BSTR __stdcall GetPortDescription(int index);
VORNEX_IMPORT BSTR __stdcall Serial_GetPortDescription(int index);
/* The COM port number for index 1 .. count; 0 outside. */
VORNEX_IMPORT int __stdcall GetPortNumber(int index);
VORNEX_IMPORT int __stdcall Serial_GetPortNumber(int index);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
/* ---- C++ only ------------------------------------------------------------ */
#include <utility>
#include <vector>

class CFTDIPort;

/* The FTDI port behind a handle from ROBOT_AttachFTDIDevice*, for the
 * functions below that take it by reference. */
inline CFTDIPort& VornexFtdiPort(PORT_HANDLE port) { return *reinterpret_cast<CFTDIPort*>(port); }

/* By reference, default calling convention, exported under their C++ names. */
/* True when an attached device's description begins with name (case
 * ignored); opens nothing. */
VORNEX_IMPORT bool FindFTDIDevice(CFTDIPort& port, const wchar_t* name);
VORNEX_IMPORT bool OpenFTDIDevice(CFTDIPort& port, const wchar_t* description);
VORNEX_IMPORT bool OpenFTDIDeviceByLoc(CFTDIPort& port, unsigned long location);
VORNEX_IMPORT bool OpenFTDIDeviceByIndex(CFTDIPort& port, unsigned long index);
/* True when FT_Close reported 0. */
VORNEX_IMPORT bool CloseFTDIDevice(CFTDIPort& port);

/* A program that also sees the library's own declaration of CRobotCommand
 * defines VORNEX_NO_ROBOT_COMMAND_CLASS before including this header. */
#ifndef VORNEX_NO_ROBOT_COMMAND_CLASS
/* Command kinds. */
enum eCommand : long {
    eNone = 0,
    eNoReply = 1,   /* no reply awaited */
    eStandard = 2,  /* ROBOT_SendCommand, ROBOT_SendCommandBytes kind 0 */
    eBaud38400 = 3,
    eBaud76800 = 4,
    ePageRead = 6,
    eToolInfo = 10,
};

/* A finished command as ROBOT_GetReply and ROBOT_WaitReply return it. The
 * robot object owns it: it stays valid until ROBOT_DeleteReply for its ID or
 * until the robot object is destroyed. Only reached through a pointer. */
class VORNEX_IMPORT CRobotCommand {
public:
    eCommand GetCommand() const;
    int GetID() const;
    int GetReplyCount() const;
    /* The only reply part, or the part under the reply walk. */
    const char* GetReplyData() const;
    int GetReplySize() const;
    bool IsReplyComplete() const;
    bool IsAbandoned() const;
    bool IsAddressed() const;
    /* Walks the reply parts in order; false when there are no more. */
    bool StartReplyWalk();
    bool NextReply();

    CRobotCommand() = delete;
    CRobotCommand(const CRobotCommand&) = delete;
    CRobotCommand& operator=(const CRobotCommand&) = delete;
};
#endif

extern "C" {
/* The finished command (complete or abandoned), a page read whose first
 * pages have come, or null. Never waits. */
VORNEX_IMPORT CRobotCommand* __stdcall ROBOT_GetReply(ROBOT_HANDLE robot, long id);
/* Waits up to timeoutMs (INFINITE: no limit) for the reply to be complete;
 * null when the time ran out. Dispatches no window messages. */
VORNEX_IMPORT CRobotCommand* __stdcall ROBOT_WaitReply(ROBOT_HANDLE robot, long id, unsigned long timeoutMs);
}

/* One flash-page read of pageCount pages (at most 128) from firstPage, at
 * baudRate on an FTDI link; flag 0 asks for the sum check; address null or
 * an addressed tool's address. The command ID, or 0 while an earlier page
 * read still expects pages. */
VORNEX_IMPORT long __stdcall ROBOT_ReadFlashPages(void* robot, long firstPage, long pageCount, long baudRate,
                                                  long flag, const wchar_t* address);

/* Each page frame read: (size, new[] copy of the frame). The caller owns the
 * list and every buffer and frees them with delete / delete[]. */
typedef std::vector<std::pair<int, char*>> PageList;

/* The download into a page list; null when nothing was read. *error (may be
 * null): -1 when cancelled, else 0. */
VORNEX_IMPORT PageList* __stdcall ROBOT_ReadToolMemory(void* robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                                       long flag, long* error, const wchar_t* address);
VORNEX_IMPORT PageList* __stdcall ROBOT_ReadToolMemory(void* robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                                       long flag, long* error);
/* ROBOT_ReadToolMemory / ROBOT_ReadToolMemoryAddressed under their C++ names. */
VORNEX_IMPORT long __stdcall ROBOT_ReadToolMemorySA(void* robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                                    long flag, SAFEARRAY** out);
VORNEX_IMPORT long __stdcall ROBOT_ReadToolMemorySAAddressed(void* robot, SAFEARRAY** pages, long baudRate,
                                                             long timeoutMs, long flag, SAFEARRAY** out,
                                                             const wchar_t* address);
#endif /* __cplusplus */

#endif /* VORNEX_H */
