// Parts of the Win32 serial port that need no open port, kept apart so that
// the Windows tests can check them: the device control block an open sets,
// and the mapping of system error codes onto error kinds.
#pragma once

#include <windows.h>

#include "serial_port.h"

namespace ktr::detail {

// Sets every field of `dcb` that changes what goes over the line. The
// driver keeps the DCB of the last program that used the port (that is how
// "mode COM3:" works), and a left-over XON/XOFF, hardware handshake, DSR
// sensitivity, null stripping or abort-on-error breaks a binary protocol
// in ways that look like "no reply". DTR and RTS are held on; with
// line.rs485 the driver raises RTS only while it sends, and a port already
// set up that way by its owner keeps it.
void ApplyLineToDcb(DCB& dcb, const LineSettings& line);

// The error kind of a system error code. `inIo`: the code came from a read,
// a write or a comm call on a port that was open, where ERROR_ACCESS_DENIED
// means that the USB adapter went away (at CreateFileW it means that
// another program holds the port).
SerialErrorKind KindOfError(DWORD code, bool inIo);

}  // namespace ktr::detail
