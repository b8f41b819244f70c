// The hand-off between a requester and the worker, with no port: every
// posted word must come back to idle, however the two threads' timing
// falls. A lost wake-up leaves both sides asleep and the test never ends
// (ctest's time-out fails it).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "modbus_master.h"

namespace {

// Busy for `us` microseconds: the requester's next post then lands at every
// point of the worker's look at the word and of its falling asleep.
void Busy(int us) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < until) {
  }
}

TEST(ModbusHandOff, EveryPostedWordComesBackUnderShiftingTiming) {
  ktr::TModbus master;
  constexpr int kPosts = 10000;
  for (int i = 0; i < kPosts; ++i) {
    // 0x1234 is no command: the worker takes it and sets the word back to
    // idle at once. Pauses from 0 to 600 us, past the worker's look.
    master.PostCommand(0x1234);
    Busy((i * 37) % 600);
  }
  EXPECT_EQ(master.CommandsTaken(), static_cast<std::uint64_t>(kPosts));
}

TEST(ModbusHandOff, ClosedPortCommandsAnswerAndTheWorkerStops) {
  for (int round = 0; round < 200; ++round) {
    ktr::TModbus master;
    std::uint16_t value = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(8000, 1, &value), -1);  // no port open
    EXPECT_EQ(master.ClosePort(), 0);
  }  // each destructor wakes and joins its worker
}

}  // namespace
