// Every device on the bus: a first pass over addresses 1 to 126 with a short
// time-out, then each address that answered (well, garbled or cut) checked
// again with the normal time-out, reading its firmware text and version.
// Used by `ktr-cli scan --all`, `set-time --all` and /find_all.cgi.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ktr_device.h"

namespace ktr {

inline constexpr int kInventoryFirstAddress = 1;
inline constexpr int kInventoryLastAddress = 126;
// The first pass's reply time-out. The master adds the wire time of the
// probe and of its reply (8.6 ms at 19200 8E1); this is the device's time to
// turn round on top of it: devices answer a read within a few milliseconds,
// and 20 ms also covers a USB adapter that passes bytes on every 16 ms.
inline constexpr std::int32_t kProbeTurnaroundMs = 20;

struct InventoryEntry {
  int address = 0;
  std::string firmware;  // UTF-8
  std::uint32_t version = 0;
  std::string note;  // "" for a KTR device, else why it is none
};

struct InventoryProgress {
  bool checking = false;  // false: first pass
  int position = 0;       // addresses probed in the first pass
  int total = kInventoryLastAddress - kInventoryFirstAddress + 1;
  std::vector<int> candidates;  // addresses to check, in order
  std::size_t checked = 0;
};

struct InventoryCallbacks {
  std::function<void(const InventoryProgress&)> progress;  // after each probe and each check
  std::function<void(const InventoryEntry&)> found;        // as each check ends with a device
  std::function<bool()> stopRequested;                     // asked before each probe and check
};

struct InventoryResult {
  std::vector<InventoryEntry> devices;  // in address order
  std::string error;                    // "" or why the search could not run (the port)
  bool stopped = false;
};

// `normalTimeoutMs` is the time-out of the checks.
[[nodiscard]] InventoryResult RunInventory(TKtrDevice& device, std::int32_t normalTimeoutMs,
                                           const InventoryCallbacks& callbacks);

}  // namespace ktr
