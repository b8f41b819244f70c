// Helpers for the simulator's own tests: a raw view of the line (plain
// POSIX reads and writes, to see exactly which bytes a reply has), a
// libmodbus client, and running ktr-sim to completion.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <modbus.h>

#include "frame_hex.h"
#include "ktr_register_map.h"

namespace ktr::test {

using Words = std::vector<std::uint16_t>;

// Names parameterised tests after their case's `name` member.
struct CaseName {
  template <class Param>
  std::string operator()(const testing::TestParamInfo<Param>& param) const {
    return param.param.name;
  }
};

// Frames come from the toolkit of frame_hex.h, whose bit-by-bit CRC is apart
// from the simulator's own, so that a fault in one is not hidden by the same
// fault in the other.
bool CrcValid(const Bytes& frame);
// The correct reply to a read of these values (function 3 or 4).
Bytes ReadReply(std::uint8_t address, std::uint8_t function, const std::vector<std::uint16_t>& values);

// The factory values of a block (ktr_register_map.h).
Words DefaultWords(ktr::Firmware firmware, ktr::RegisterBlock block);

// Clock registers 10020-10025 as seconds of the calendar (UTC based), for
// comparing two readings.
std::int64_t ClockSeconds(const Words& clock);

// The simulator's terminal opened raw through its link.
class RawLine {
 public:
  explicit RawLine(const std::string& path);
  ~RawLine();
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;

  void Write(const Bytes& bytes);
  // Reads until n bytes have come or the wait is over.
  Bytes ReadUpTo(std::size_t n, std::chrono::milliseconds wait);
  // Reads the expected number of bytes (waiting at most wait), then
  // whatever follows until the line has been quiet for 100 ms, so a reply
  // that is too long shows as such.
  Bytes ReadReply(std::size_t expected, std::chrono::milliseconds wait = std::chrono::seconds(2));
  // Reads whatever comes until the line has been quiet for the given time.
  Bytes ReadUntilQuiet(std::chrono::milliseconds quiet);

 private:
  int fd_ = -1;
};

// A libmodbus RTU client on the simulator's terminal (or its Modbus TCP
// client for a "tcp://HOST:PORT" path). libmodbus reads back the parity it
// set and a pty always reports none, so the client uses 'N'.
class ModbusClient {
 public:
  ModbusClient(const std::string& path, int slave,
               std::chrono::milliseconds response_timeout = std::chrono::seconds(2));
  ~ModbusClient();
  ModbusClient(const ModbusClient&) = delete;
  ModbusClient& operator=(const ModbusClient&) = delete;

  modbus_t* get() const { return ctx_; }
  void SetSlave(int slave);

  // Results as libmodbus gives them: 0 or errno of the failure
  // (EMBXILADD for exception 2, EMBBADCRC, ETIMEDOUT, ...).
  int Read(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>& values);
  int ReadInput(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>& values);
  int WriteSingle(std::uint16_t reg, std::uint16_t value);
  int WriteMultiple(std::uint16_t start, const std::vector<std::uint16_t>& values);

 private:
  modbus_t* ctx_ = nullptr;
};

// Runs ktr-sim with args until it ends (at most 10 s, then it is killed).
struct RunResult {
  int exit_code = -1;
  std::string stderr_text;
};
RunResult RunSimToExit(const std::vector<std::string>& args);

}  // namespace ktr::test
