// The tests' Modbus RTU frame toolkit: frames as hex text, an independent
// CRC, and the exact request and reply frames built byte by byte, as the
// protocol defines them (not with the rtu_frame code under test). No I/O, so
// that the frame tests also run where there are no pseudo-terminals
// (Windows), and the fuzz harnesses build it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ktr::test {

using Bytes = std::vector<std::uint8_t>;

// "01 03 1F 40" -> bytes; and back, upper-case, space separated.
Bytes FromHex(const std::string& hex);
std::string ToHex(const Bytes& bytes);

// Appends a CRC-16/MODBUS, computed bit by bit (independent of the table
// code under test).
Bytes WithCrc(Bytes frame);

inline std::uint8_t High(unsigned v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
inline std::uint8_t Low(unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); }

// Requests to `slave`, CRC appended. Functions 1 to 4: start and count.
Bytes ReadRequestFrame(std::uint8_t slave, std::uint8_t function, std::uint16_t start, std::uint16_t count);
// Function 6 (or 5 for a coil).
Bytes WriteSingleFrame(std::uint8_t slave, std::uint16_t reg, std::uint16_t value, std::uint8_t function = 6);
// Function 16; the byte count is one byte (2 * count modulo 256).
Bytes WriteMultipleFrame(std::uint8_t slave, std::uint16_t start, const std::vector<std::uint16_t>& values);
// Function 15: `count` coils, packed eight to a byte in `bits`.
Bytes WriteCoilsFrame(std::uint8_t slave, std::uint16_t start, std::uint16_t count, const std::uint8_t* bits);

// Replies from `slave`, CRC appended. Function 3 carrying `values`.
Bytes ReadReplyFrame(std::uint8_t slave, const std::vector<std::uint16_t>& values);
// What a device answers to a write request (function 6 or 16): its first six
// bytes.
Bytes WriteEchoFrame(const Bytes& request);

// Length of the request frame that starts at `data` (8 bytes; 9 + byte count
// for functions 15 and 16), or 0 while too few bytes are there to tell.
std::size_t RequestFrameLength(const std::uint8_t* data, std::size_t available);
// Splits what a master sent into its request frames, in order. Bytes after
// the last whole frame (a frame still arriving, or no frame at all) are left
// out.
std::vector<Bytes> SplitRequests(const Bytes& stream);

}  // namespace ktr::test
