#pragma once
// The link over a COM port: the port's own worker fills its buffer and sets
// its data event. Nothing is discarded at the port on a time-out.
#include "engine/buffered_transport.h"
#include "ports/serial_port.h"

inline HANDLE DataEventOf(CSerialPort* port) { return port->GetEvent(); }

using SerialTransport = BufferedTransport<CSerialPort>;
