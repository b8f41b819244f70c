// Line configuration of an open tty on Linux through termios2, which takes any
// baud rate (BOTHER): 14400, for one, has no B-constant. Kept apart from the
// rest of the POSIX port code because <asm/termbits.h> and <termios.h> define
// the same names differently and cannot be included together.
#pragma once

#include <cstdint>
#include <string>

#include "serial_port.h"

namespace ktr::detail {

// Puts the tty in raw 8-bit mode (no input stripping or parity checking, so
// the parity setting never changes a data byte; no flow control, no echo, no
// line discipline), with the given data bits, parity, stop bits and baud rate.
// Every flag a previous program may have left that changes the line is
// cleared. Stores what the driver then reports in *actual (parity 3 for
// mark, 4 for space). Returns 0, or -1 with errno set by the failing ioctl.
[[nodiscard]] int ConfigureLine(int fd, const LineSettings& line, LineSettings* actual);

// The line that a driver keeps after it was asked for `wanted`, from the
// termios flags and output speed it reports and the driver's name (as sysfs
// names it: "serial" for the 8250, "ftdi_sio", ...). Parity 3 is mark, 4
// space; CSTOPB is one and a half stop bits with 5 data bits, else two.
// ftdi_sio reports CS5 back but sends the chip, which does 7 and 8 data
// bits only, no data size at all (a quirk kept for some smart-card readers):
// the FT232 then runs 8 data bits, and that is what is returned.
LineSettings LineKept(std::uint32_t cflag, std::uint32_t ospeed, const LineSettings& wanted,
                      const std::string& driver);

// The name of the kernel driver behind an open tty ("serial", "ftdi_sio",
// "cp210x", ...); empty when sysfs does not say (a pseudo-terminal).
std::string DriverOf(int fd);

// Asks the driver to pass received bytes on at once (ASYNC_LOW_LATENCY: an
// FTDI adapter then flushes after 1 ms instead of its 16 ms latency timer).
// Drivers that have no such setting or refuse it are left as they are.
void RequestLowLatency(int fd);

// Turns kernel RS-485 direction control on, RTS high while sending, keeping
// the driver's delays. Returns 0, or -1 with errno set.
[[nodiscard]] int EnableRs485(int fd);

// The driver's low-latency and RS-485 state.
DriverState QueryDriver(int fd);

// The UART's line-error counters; false when the driver keeps none.
[[nodiscard]] bool ReadLineCounters(int fd, LineErrorCounts* counts);

}  // namespace ktr::detail
