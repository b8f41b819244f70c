// Line configuration of an open tty on Linux through termios2, which takes any
// baud rate (BOTHER): 14400, for one, has no B-constant. Kept apart from the
// rest of the POSIX port code because <asm/termbits.h> and <termios.h> define
// the same names differently and cannot be included together.
#pragma once

#include "serial_port.h"

namespace ktr::detail {

// Puts the tty in raw 8-bit mode (no input stripping or parity checking, so
// the parity setting never changes a data byte; no flow control, no echo, no
// line discipline), with the given data bits, parity, stop bits and baud rate.
// Returns 0, or -1 with errno set by the failing ioctl.
int ConfigureLine(int fd, const LineSettings& line);

}  // namespace ktr::detail
