// Frames as hex text for tests, and an independent CRC: no I/O, so that the
// frame tests also run where there are no pseudo-terminals (Windows).
#pragma once

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

}  // namespace ktr::test
