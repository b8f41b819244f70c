// The holding registers of one simulated KTR device and what the device
// does when they are read or written.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "device_clock.h"
#include "ktr_register_map.h"

namespace ktr_sim {

// Modbus exception codes the device answers with.
inline constexpr std::uint8_t kIllegalFunction = 1;
inline constexpr std::uint8_t kIllegalDataAddress = 2;
inline constexpr std::uint8_t kIllegalDataValue = 3;

class DeviceRegisters {
 public:
  // A device in its factory state, except that its address setting (10060)
  // holds the bus address it answers on.
  DeviceRegisters(ktr::Firmware firmware, std::uint8_t bus_address);

  // Reads count registers from start into values. Returns 0, or the
  // exception code (2 when any register lies outside the map); values is
  // left empty on an exception.
  std::uint8_t Read(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>& values) const;

  // Writes consecutive registers from start. All or nothing: returns 0
  // after changing the registers, or an exception code with nothing
  // changed (2 outside the map, 3 for a value the device refuses).
  std::uint8_t Write(std::uint16_t start, std::span<const std::uint16_t> values);

  // Factory defaults: every register of the default map, including 10060
  // (the factory address 1). The clock runs on.
  void RestoreDefaults();

  // The device's own bus address setting (register 10060).
  std::uint16_t AddressSetting() const { return values_[ktr::reg::kDiad]; }

 private:
  bool Covered(std::uint32_t start, std::uint32_t count) const;

  ktr::Firmware firmware_;
  std::vector<std::uint16_t> values_;  // indexed by register address
  std::vector<bool> present_;
  DeviceClock clock_;
};

}  // namespace ktr_sim
