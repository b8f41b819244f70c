// What the tests reach inside TKtrDevice, which declares this struct its
// friend: the decoded data, and a firmware version set without a search.
// Each takes the device's locks as the product's own code does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "ktr_device.h"

namespace ktr::test {

struct DeviceTestAccess {
  // Sets the version as a search would (the 17/19-register rule).
  static void SetFirmwareVersion(TKtrDevice& device, std::uint32_t version) {
    std::lock_guard<std::mutex> lock(device.DeviceMutex);
    std::lock_guard<std::mutex> report(device.reportMutex_);
    device.FirmwareVersion = version;
  }

  // Copies taken under DeviceMutex.
  static KTR_DATA Data(TKtrDevice& device) {
    std::lock_guard<std::mutex> lock(device.DeviceMutex);
    return device.KtrData;
  }
  // The device as an access cycle holds it, until the lock ends.
  static TKtrDevice::DeviceLock HoldDevice(TKtrDevice& device) { return device.LockDevice(); }
  static int CyclesWaiting(const TKtrDevice& device) { return device.cyclesWaiting_.load(); }
  static int WritesWaiting(const TKtrDevice& device) { return device.writesWaiting_.load(); }

  static SCHEDULER_DATA Schedule(TKtrDevice& device, int dayIndex) {
    std::lock_guard<std::mutex> lock(device.DeviceMutex);
    return device.SchedulerData.at(static_cast<std::size_t>(dayIndex));
  }
};

}  // namespace ktr::test
