#include "bus_inventory.h"

#include "modbus_master.h"

namespace ktr {
namespace {

// An answer of any kind: a reply, an exception, or bytes that were no reply
// (noise, a cut reply, a reply with a bad CRC). Only silence is passed over.
bool Answered(const TKtrDevice::Probe& p) {
  return p.code == result::kOk || p.failure == RequestFailure::Exception ||
         p.failure == RequestFailure::BadReply || p.replyBytes > 0;
}

}  // namespace

InventoryResult RunInventory(TKtrDevice& device, std::int32_t normalTimeoutMs, const InventoryCallbacks& cb) {
  InventoryResult result;
  InventoryProgress progress;
  std::vector<bool> goodFirst;
  const auto stop = [&] { return cb.stopRequested && cb.stopRequested(); };

  for (int address = kInventoryFirstAddress; address <= kInventoryLastAddress; ++address) {
    if (stop()) {
      result.stopped = true;
      return result;
    }
    const TKtrDevice::Probe probe =
        device.ProbeAddress(static_cast<std::uint8_t>(address), kProbeTurnaroundMs);
    if (probe.failure == RequestFailure::Port && probe.code != result::kOk) {
      result.error = "the port could not be opened";  // the device logged why
      return result;
    }
    if (Answered(probe)) {
      progress.candidates.push_back(address);
      goodFirst.push_back(probe.code == result::kOk);
    }
    progress.position = address - kInventoryFirstAddress + 1;
    if (cb.progress) cb.progress(progress);
  }

  progress.checking = true;
  for (std::size_t i = 0; i < progress.candidates.size(); ++i) {
    if (stop()) {
      result.stopped = true;
      return result;
    }
    InventoryEntry entry;
    entry.address = progress.candidates[i];
    const std::int32_t r = device.ReadFirmwareAt(static_cast<std::uint8_t>(entry.address), normalTimeoutMs,
                                                 entry.firmware, entry.version);
    bool listed = true;
    if (result::IsException(r)) {
      // It answers, with an exception: some other kind of device.
      entry.note = "error: " + std::to_string(r) + " " + ResultText(r);
    } else if (r != result::kOk) {
      // Silent now: a good first answer is still reported; noise is not a device.
      listed = goodFirst[i];
      entry.note = "answered the first probe only (error: " + std::to_string(r) + " " + ResultText(r) + ")";
    }
    if (listed) {
      result.devices.push_back(entry);
      if (cb.found) cb.found(entry);
    }
    progress.checked = i + 1;
    if (cb.progress) cb.progress(progress);
  }
  return result;
}

}  // namespace ktr
