// A TKtrDevice wired to a real ktr-sim on a pseudo-terminal through a real
// master, with the log lines and address-list changes it reports captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <vector>

#include "ktr_device.h"
#include "ktr_register_map.h"
#include "modbus_master.h"
#include "port_messages.h"
#include "sim_process.h"

namespace ktr::test {

class DeviceTest : public ::testing::Test {
 protected:
  // Starts ktr-sim with `simArgs` and points the device at it (address from
  // the first "--address" in simArgs, else 1). Call from the test body, or
  // rely on SetUp() for the default simulator.
  void StartDevice(std::vector<std::string> simArgs = {}) {
    device_.reset();
    sim_ = std::make_unique<ktr::test::SimProcess>(simArgs);
    device_ = std::make_unique<TKtrDevice>(
        modbus_,
        [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex_);
          log_.push_back(line);
        },
        [this](const std::vector<std::string>& list) {
          std::lock_guard<std::mutex> lock(mutex_);
          addressLists_.push_back(list);
        });
    SerialSettings s;
    s.portName = sim_->link();
    s.slaveAddress = 1;
    for (std::size_t i = 0; i + 1 < simArgs.size(); ++i) {
      if (simArgs[i] == "--address") s.slaveAddress = static_cast<std::uint8_t>(std::stoi(simArgs[i + 1]));
    }
    device_->SetSettings(s);
  }

  void SetUp() override { StartDevice(); }

  // A device whose port cannot be opened.
  void PointAtMissingPort() {
    SerialSettings s = device_->Settings();
    s.portName = ktr::test::kMissingPort;
    device_->SetSettings(s);
  }

  std::vector<std::string> TakeLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(log_, {});
  }
  std::vector<std::vector<std::string>> TakeAddressLists() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(addressLists_, {});
  }

  // Reads registers straight from the simulator with a master of its own
  // (the device's master is idle between handler calls).
  std::vector<std::uint16_t> ReadSim(std::uint16_t start, std::uint16_t count) {
    TModbus other;
    std::vector<std::uint16_t> regs(count);
    EXPECT_EQ(other.OpenPort(device_->Settings()), 0);
    EXPECT_EQ(other.ReadHoldingRegisters(start, count, regs.data()), 0);
    other.ClosePort();
    return regs;
  }
  void WriteSim(std::uint16_t start, std::vector<std::uint16_t> values) {
    TModbus other;
    EXPECT_EQ(other.OpenPort(device_->Settings()), 0);
    EXPECT_EQ(other.WriteMultipleRegisters(start, static_cast<std::uint16_t>(values.size()), values.data()),
              0);
    other.ClosePort();
  }

  TModbus modbus_;
  std::unique_ptr<ktr::test::SimProcess> sim_;
  std::unique_ptr<TKtrDevice> device_;

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<std::vector<std::string>> addressLists_;
};

}  // namespace ktr::test
