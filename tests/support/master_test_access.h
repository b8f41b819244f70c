// What the tests read inside TModbus, which declares this struct its
// friend: how many command words the worker took, and the command word's
// state for hang reports.
#pragma once

#include <atomic>
#include <cstdint>

#include "modbus_master.h"

namespace ktr::test {

struct MasterTestAccess {
  // Commands the worker has taken, words that were no command included.
  static std::uint64_t CommandsTaken(const TModbus& master) {
    return master.commandsTaken_.load(std::memory_order_relaxed);
  }
  // The command word as it stands, and the waits on it that a lost wake-up
  // would have hung (see CommandWord).
  static std::uint16_t CommandWordNow(const TModbus& master) { return master.command.Load(); }
  static std::uint64_t RescuedWaits(const TModbus& master) { return master.command.RescuedWaits(); }
};

}  // namespace ktr::test
