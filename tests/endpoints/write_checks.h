// Checks shared by the tests of the write endpoints:
// - RegisterSnapshot: every register of ktr-sim that keeps its value (all but
//   the running clock), read straight from the simulator, so a test can see
//   exactly which registers a request changed and that no other changed.
// - EchoBus: a TKtrDevice whose port leads to a device played by the test,
//   which acknowledges every write as a device does and records the exact
//   request frames (function 6 or 16, address, values, CRC).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ktr_device.h"
#include "ktr_register_map.h"
#include "modbus_master.h"
#include "pty_pair.h"
#include "scripted_device.h"

namespace ktr::test {

using Registers = std::map<std::uint16_t, std::uint16_t>;

// Reads all stable registers of a simulator (new firmware) at `settings`.
inline Registers RegisterSnapshot(const SerialSettings& settings) {
  static const RegisterBlock kBlocks[] = {
      reg::kSensors,           reg::kAbsoluteHumidity,
      reg::kDisplay,           {reg::kTimeZone, 2},
      reg::kCounter,           reg::kSettings,
      {reg::kConfigStatus, 1}, {reg::kFactoryDefaults, 1},
      {reg::kPoll, 1},         {reg::kDeviceListCount, 1},
      reg::kDeviceList,        reg::kBrightness,
      reg::ScheduleDay(0),     reg::ScheduleDay(1),
      reg::ScheduleDay(2),     reg::ScheduleDay(3),
      reg::ScheduleDay(4),     reg::ScheduleDay(5),
      reg::ScheduleDay(6),
  };
  Registers all;
  TModbus master;
  EXPECT_EQ(master.OpenPort(settings), 0);
  for (const RegisterBlock& b : kBlocks) {
    std::vector<std::uint16_t> values(b.count);
    EXPECT_EQ(master.ReadHoldingRegisters(b.start, b.count, values.data()), 0) << "block " << b.start;
    for (std::uint16_t i = 0; i < b.count; ++i) all[static_cast<std::uint16_t>(b.start + i)] = values[i];
  }
  master.ClosePort();
  return all;
}

// The registers whose value differs, with their new values.
inline Registers Changed(const Registers& before, const Registers& after) {
  Registers changed;
  for (const auto& [address, value] : after) {
    const auto old = before.find(address);
    if (old == before.end() || old->second != value) changed[address] = value;
  }
  return changed;
}

// Registers from `start` on holding `values`.
inline Registers Span(std::uint16_t start, const std::vector<std::uint16_t>& values) {
  Registers r;
  for (std::size_t i = 0; i < values.size(); ++i) r[static_cast<std::uint16_t>(start + i)] = values[i];
  return r;
}

class EchoBus {
 public:
  EchoBus()
      : device_(pty_, [](const Bytes& request) { return Acknowledge(request); }),
        ktr_(modbus_,
             [this](const std::string& line) {
               std::lock_guard<std::mutex> lock(mutex_);
               log_.push_back(line);
             },
             {}) {
    SerialSettings s;
    s.portName = pty_.slavePath();
    s.slaveAddress = 1;
    s.timeoutMs = 500;
    // The pty does not echo, and the device answers writes only: no read
    // ahead of the first write to learn the echo.
    s.echo = EchoMode::Off;
    ktr_.SetSettings(s);
  }

  TKtrDevice& device() { return ktr_; }
  // Request frames received so far, as hex.
  std::vector<std::string> Frames() const {
    std::vector<std::string> frames;
    for (const Bytes& b : device_.Requests()) frames.push_back(ToHex(b));
    return frames;
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

 private:
  // A write is answered with the echo that a device sends; anything else
  // gets no answer.
  static ScriptedReply Acknowledge(const Bytes& request) {
    if (request[1] == 6 || request[1] == 16) return {WriteEchoFrame(request), 0};
    return {};
  }

  PtyPair pty_;
  ScriptedDevice device_;
  TModbus modbus_;
  std::mutex mutex_;
  std::vector<std::string> log_;
  TKtrDevice ktr_;
};

}  // namespace ktr::test
