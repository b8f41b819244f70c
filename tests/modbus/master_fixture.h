// Shared setup of the master tests: a pty pair whose slave side the master
// opens, and the settings to open it with.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "modbus_master.h"
#include "pty_pair.h"

namespace ktr::test {

inline SerialSettings PtySettings(const PtyPair& pty, std::uint8_t slave = 1,
                                  std::int32_t timeoutMs = 300) {
  SerialSettings s;
  s.portName = pty.slavePath();
  s.slaveAddress = slave;
  s.timeoutMs = timeoutMs;
  return s;
}

// A reply of function 3 with the given register values, CRC appended.
inline Bytes ReadReply(std::uint8_t slave, std::initializer_list<std::uint16_t> values) {
  Bytes b{slave, 3, static_cast<std::uint8_t>(2 * values.size())};
  for (std::uint16_t v : values) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  return WithCrc(b);
}

// The echo a device sends for a write request: its first six bytes + CRC.
inline Bytes WriteEcho(const Bytes& request) {
  return WithCrc(Bytes(request.begin(), request.begin() + 6));
}

inline long MillisecondsSince(std::chrono::steady_clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - t)
                               .count());
}

}  // namespace ktr::test
