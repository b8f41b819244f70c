// Shared setup of the master tests: a pty pair whose slave side the master
// opens, and the settings to open it with.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "modbus_master.h"
#include "pty_pair.h"

namespace ktr::test {

inline SerialSettings PtySettings(const PtyPair& pty, std::uint8_t slave = 1, std::int32_t timeoutMs = 300) {
  SerialSettings s;
  s.portName = pty.slavePath();
  s.slaveAddress = slave;
  s.timeoutMs = timeoutMs;
  return s;
}

inline long MillisecondsSince(std::chrono::steady_clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count());
}

}  // namespace ktr::test
