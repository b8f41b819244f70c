// The search of every address, against a scripted bus: the first pass's
// short probe, and the second look, with the normal time-out, at every
// address whose first answer was good, cut, garbled or an exception.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "bus_inventory.h"
#include "frame_hex.h"
#include "pty_pair.h"
#include "scripted_device.h"

namespace ktr::test {
namespace {

// The good reply of a KTR device with the firmware text "ABC" (two
// registers) and version 1.2.3.
Bytes GoodReply(std::uint8_t address, std::uint16_t start) {
  switch (start) {
    case 8000: return WithCrc({address, 3, 2, 0, 2});
    case 8001: return WithCrc({address, 3, 4, 'A', 'B', 'C', 0});
    case 5000: return WithCrc({address, 3, 6, 0, '1', 0, '2', 0, '3'});
    default: return {};
  }
}

TEST(BusInventory, EveryAnswerIsCheckedAgainAndOnlySilenceIsPassedOver) {
  PtyPair pty;
  std::mutex mutex;
  std::map<int, int> seen;  // requests per address
  ScriptedDevice bus(pty, [&](const Bytes& request) -> ScriptedReply {
    const std::uint8_t a = request[0];
    const auto start = static_cast<std::uint16_t>(request[2] << 8 | request[3]);
    int n = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      n = ++seen[a];
    }
    switch (a) {
      case 3: return {GoodReply(a, start)};
      case 7: {  // the first answer cut after three bytes, then whole ones
        Bytes reply = GoodReply(a, start);
        if (n == 1) reply.resize(3);
        return {reply};
      }
      case 9: return {WithCrc({a, 0x83, 2})};               // another kind of device: exception 2
      case 20: return {n == 1 ? Bytes(7, 0xFF) : Bytes{}};  // noise once, then silence
      default: return {};
    }
  });

  TModbus modbus;
  TKtrDevice device(modbus, nullptr, nullptr);
  SerialSettings s;
  s.portName = pty.slavePath();
  s.slaveAddress = 1;
  device.SetSettings(s);

  InventoryProgress last;
  std::vector<int> found;
  InventoryCallbacks cb;
  cb.progress = [&last](const InventoryProgress& p) { last = p; };
  cb.found = [&found](const InventoryEntry& e) { found.push_back(e.address); };
  const InventoryResult result = RunInventory(device, 300, cb);

  EXPECT_EQ(result.error, "");
  EXPECT_EQ(last.position, 126);
  EXPECT_EQ(last.candidates, (std::vector<int>{3, 7, 9, 20}));
  ASSERT_EQ(result.devices.size(), 3U);
  EXPECT_EQ(found, (std::vector<int>{3, 7, 9}));
  for (int i : {0, 1}) {
    EXPECT_EQ(result.devices[static_cast<std::size_t>(i)].firmware, "ABC");
    EXPECT_EQ(result.devices[static_cast<std::size_t>(i)].version, 0x010203U);
    EXPECT_EQ(result.devices[static_cast<std::size_t>(i)].note, "");
  }
  EXPECT_EQ(result.devices[2].address, 9);
  EXPECT_EQ(result.devices[2].note, "error: -52 illegal data address");

  // One probe per address; the candidates' checks read 8000, 8001 and 5000
  // (up to the first failure); the device's own settings are untouched.
  std::lock_guard<std::mutex> lock(mutex);
  for (int a = 1; a <= 126; ++a) {
    const int expected = a == 3 || a == 7 ? 4 : a == 9 || a == 20 ? 2 : 1;
    EXPECT_EQ(seen[a], expected) << "address " << a;
  }
  EXPECT_EQ(seen.size(), 126U);
  EXPECT_EQ(device.Settings().slaveAddress, 1);
  EXPECT_EQ(device.Settings().timeoutMs, s.timeoutMs);
}

}  // namespace
}  // namespace ktr::test
