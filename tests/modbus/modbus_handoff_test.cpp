// The hand-off between a requester and the worker, with no port: every
// posted word must come back to idle, however the two threads' timing
// falls. A lost wake-up would leave both sides asleep; a watchdog then
// reports where the hand-off stood and ends the program, so the failure
// says why instead of running into ctest's time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <tuple>

#include "master_test_access.h"
#include "modbus_master.h"

namespace {

using ktr::test::MasterTestAccess;

// Busy for `us` microseconds: the requester's next post then lands at every
// point of the worker's look at the word and of its falling asleep.
void Busy(int us) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < until) {}
}

// Watches a loop's progress counter; when it stands still for `stall`, prints
// the hand-off's state on stderr and ends the program (a hung requester can
// not be unwound).
class StallWatchdog {
 public:
  StallWatchdog(const ktr::TModbus& master, const std::atomic<int>& progress, std::chrono::seconds stall)
      : thread_([this, &master, &progress, stall] {
          std::unique_lock<std::mutex> hold(lock_);
          int last = -1;
          while (!done_) {
            const int now = progress.load();
            if (now == last) {
              std::fprintf(stderr,
                           "hand-off hung: post %d made no progress for %lld s; command word "
                           "0x%04X, commands taken %llu, rescued waits %llu\n",
                           now, static_cast<long long>(stall.count()),
                           static_cast<unsigned>(MasterTestAccess::CommandWordNow(master)),
                           static_cast<unsigned long long>(MasterTestAccess::CommandsTaken(master)),
                           static_cast<unsigned long long>(MasterTestAccess::RescuedWaits(master)));
              std::fflush(stderr);
              std::_Exit(3);
            }
            last = now;
            wake_.wait_for(hold, stall, [this] { return done_; });
          }
        }) {}
  ~StallWatchdog() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

TEST(ModbusHandOff, EveryPostedWordComesBackUnderShiftingTiming) {
  ktr::TModbus master;
  constexpr int kPosts = 10000;
  std::atomic<int> posted{0};
  {
    // A post takes microseconds; ten seconds without one is a hang.
    StallWatchdog watchdog(master, posted, std::chrono::seconds(10));
    for (int i = 0; i < kPosts; ++i) {
      // 0x1234 is no command: the worker takes it and sets the word back to
      // idle at once. Pauses from 0 to 600 us, past the worker's look.
      std::ignore = master.PostCommand(0x1234);  // no command: the last result comes back
      posted.store(i + 1);
      Busy((i * 37) % 600);
    }
  }
  EXPECT_EQ(MasterTestAccess::CommandsTaken(master), static_cast<std::uint64_t>(kPosts));
  // Not one wait needed the periodic re-check to see its change.
  EXPECT_EQ(MasterTestAccess::RescuedWaits(master), 0U);
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
