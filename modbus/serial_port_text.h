// Texts about the serial line for the operator: the short line code
// ("8E1"), why an open failed and what to do about it, the line errors that
// a failed request caused, and the hex trace of frames. Pure functions, no
// OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial_port.h"

namespace ktr {

// Data bits, parity letter (N, O, E, M for mark, S for space) and stop bits:
// "8E1", "7O2", "5N1.5".
std::string LineCode(const LineSettings& line);

// Empty when the driver took the settings; else "cannot do 8E1, got 8N1"
// (with the baud rates when those differ by more than 3 %, the tolerance of
// a UART receiver).
std::string LineMismatch(const LineSettings& wanted, const LineSettings& got);

// The second log line after a failed open: the system's reason and a hint
// at the usual cause, e.g. "open /dev/ttyUSB0: Permission denied: the user
// is not in group dialout ...".
std::string OpenFailureDetail(const SerialError& error);

// `after` minus `before`, per counter.
LineErrorCounts CountsMoved(const LineErrorCounts& before, const LineErrorCounts& after);

// Empty when nothing moved; else e.g. "3 framing errors: check baud rate,
// parity, A/B wiring".
std::string LineErrorsText(const LineErrorCounts& moved);

// One trace line: "12:00:01.250 TX 01 03 1F 40 00 01 82 0A" (RX for bytes
// received); `msOfDay` is the local time of day in milliseconds.
std::string TraceLine(std::int64_t msOfDay, bool sent, const std::uint8_t* data, std::size_t length);

}  // namespace ktr
