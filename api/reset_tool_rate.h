#pragma once
// Brings a tool left at a high link rate back to its base rate, without a
// robot object: the rate-reset frame is sent at each rate the tool may be
// listening at, then the device returns to the base rate.
#include "engine/vx_api.h"

// port: the handle of an opened FTDI device. 1 when the frame was sent, 0 for
// a null handle. No reply is read.
VX_API long __stdcall FTDI_ResetToolRate(void* port);
