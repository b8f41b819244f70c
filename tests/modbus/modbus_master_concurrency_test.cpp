// Several threads sharing one master under one mutex, the way endpoint
// handlers and the device search use it. Run under ThreadSanitizer by the
// test script.
#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <thread>
#include <vector>

#include "libmodbus_slave.h"
#include "master_fixture.h"
#include "master_test_access.h"

namespace {

using namespace ktr::test;
using ktr::TModbus;

TEST(ModbusMasterConcurrency, ThreadsTakeTurnsUnderOneMutex) {
  PtyPair pty;
  LibmodbusSlave slave(pty, 1, 64);
  for (int i = 0; i < 64; ++i) slave.SetRegister(i, static_cast<std::uint16_t>(1000 + i));
  TModbus master;
  std::mutex deviceMutex;
  constexpr int kThreads = 4;
  constexpr int kCycles = 40;
  std::array<int, kThreads> failures{};

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int c = 0; c < kCycles; ++c) {
        std::lock_guard<std::mutex> lock(deviceMutex);
        if (master.OpenPort(PtySettings(pty, 1, 1000)) != 0) {
          ++failures[t];
          continue;
        }
        const auto first = static_cast<std::uint16_t>((t * 7 + c) % 60);
        std::array<std::uint16_t, 4> regs{};
        if (master.ReadHoldingRegisters(first, 4, regs.data()) != 0 || regs[0] != 1000 + first ||
            regs[3] != 1003 + first) {
          ++failures[t];
        }
        const std::uint16_t v = static_cast<std::uint16_t>(1000 + first);
        if (master.WriteSingleRegister(first, v) != 0) ++failures[t];
        master.ClosePort();
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_EQ(MasterTestAccess::CommandsTaken(master), static_cast<std::uint64_t>(kThreads * kCycles * 4));
}

TEST(ModbusMasterConcurrency, DestructionWhileIdleJoinsTheWorker) {
  for (int i = 0; i < 50; ++i) {
    TModbus master;
    if (i % 2 == 0) {
      EXPECT_EQ(master.ClosePort(), 0);
    }
  }
}

}  // namespace
