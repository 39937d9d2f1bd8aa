#pragma once
// The COM-port list for hosts: a fresh count, then each port's text and
// number by 1-based index.
#include <windows.h>
#include <oleauto.h>

#include "engine/vx_api.h"

// Rescans the setup devices and SERIALCOMM and returns the number of ports.
VX_API int __stdcall GetPortCount();
// "description (COMn)" of the port at index (1 to the count) as a new BSTR
// the caller frees; an empty BSTR outside that range. Does not rescan.
VX_API BSTR __stdcall GetPortDescription(int index);
// The port number at index (1 to the count); 0 outside. Does not rescan.
VX_API int __stdcall GetPortNumber(int index);
