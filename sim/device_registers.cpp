#include "device_registers.h"

#include <array>

namespace ktr_sim {
namespace {

constexpr std::size_t kAddressSpace = 65536;

// Clock registers that run from the device clock (10020-10025).
constexpr ktr::RegisterBlock kLiveClock{ktr::reg::kYear, 6};

std::array<int, 6> ClockArray(const ClockFields& f) {
  return {f.year, f.month, f.day, f.hour, f.minute, f.second};
}

ClockFields ClockFromArray(const std::array<int, 6>& a) { return {a[0], a[1], a[2], a[3], a[4], a[5]}; }

}  // namespace

DeviceRegisters::DeviceRegisters(ktr::Firmware firmware, std::uint8_t bus_address)
    : firmware_(firmware), values_(kAddressSpace, 0), present_(kAddressSpace, false) {
  for (std::size_t a = 0; a < kAddressSpace; ++a) {
    present_[a] = ktr::InMap(firmware_, static_cast<std::uint16_t>(a));
  }
  RestoreDefaults();
  values_[ktr::reg::kDiad] = bus_address;
}

void DeviceRegisters::RestoreDefaults() {
  for (std::size_t a = 0; a < kAddressSpace; ++a) {
    values_[a] = ktr::DefaultValue(firmware_, static_cast<std::uint16_t>(a)).value_or(0);
  }
}

bool DeviceRegisters::Covered(std::uint32_t start, std::uint32_t count) const {
  if (start + count > kAddressSpace) return false;
  for (std::uint32_t a = start; a < start + count; ++a) {
    if (!present_[a]) return false;
  }
  return true;
}

std::uint8_t DeviceRegisters::Read(std::uint16_t start, std::uint16_t count,
                                   std::vector<std::uint16_t>& values) const {
  values.clear();
  if (!Covered(start, count)) return kIllegalDataAddress;
  const std::array<int, 6> clock = ClockArray(clock_.Now());
  for (std::uint32_t a = start; a < std::uint32_t{start} + count; ++a) {
    if (kLiveClock.Contains(a)) {
      values.push_back(static_cast<std::uint16_t>(clock[a - kLiveClock.start]));
    } else {
      values.push_back(values_[a]);
    }
  }
  return 0;
}

std::uint8_t DeviceRegisters::Write(std::uint16_t start, std::span<const std::uint16_t> values) {
  if (!Covered(start, static_cast<std::uint32_t>(values.size()))) return kIllegalDataAddress;

  // Check the whole request before changing anything.
  std::array<int, 6> clock = ClockArray(clock_.Now());
  bool clock_written = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::uint32_t a = start + static_cast<std::uint32_t>(i);
    const std::uint16_t v = values[i];
    if ((a == ktr::reg::kConfigStatus || a == ktr::reg::kFactoryDefaults) && v != ktr::kCommandValue) {
      return kIllegalDataValue;
    }
    if (kLiveClock.Contains(a)) {
      clock[a - kLiveClock.start] = v;
      clock_written = true;
    }
  }
  if (clock_written && !DeviceClock::Valid(ClockFromArray(clock))) return kIllegalDataValue;

  bool restore_defaults = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::uint32_t a = start + static_cast<std::uint32_t>(i);
    if (ktr::trigger::kBlock.Contains(a) || kLiveClock.Contains(a)) continue;
    if (a == ktr::reg::kConfigStatus) {
      values_[a] = ktr::kConfigRunning;
    } else if (a == ktr::reg::kFactoryDefaults) {
      restore_defaults = true;
    } else {
      values_[a] = values[i];
    }
  }
  if (clock_written) clock_.Set(ClockFromArray(clock));
  if (restore_defaults) RestoreDefaults();
  return 0;
}

}  // namespace ktr_sim
