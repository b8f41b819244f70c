// ktr-sim's clock registers: they follow the host clock and run on from
// a written date and time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "ktr_register_map.h"
#include "sim_process.h"
#include "sim_wire.h"

namespace ktr::test {
namespace {

TEST(Clock, FollowsHostLocalTime) {
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  Words clock;
  ASSERT_EQ(client.Read(ktr::reg::kClock.start, ktr::reg::kClock.count, clock), 0);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::int64_t host = static_cast<std::int64_t>(timegm(&local));
  EXPECT_LE(std::abs(ClockSeconds(clock) - host), 120);
  EXPECT_EQ(clock[6], ktr::defaults::kTimeZone);
  EXPECT_EQ(clock[7], ktr::defaults::kDst);
}

TEST(Clock, RunsOnFromWrittenDateAndTime) {
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  // The configurator writes the date and the time as two 3-register writes.
  ASSERT_EQ(client.WriteMultiple(ktr::reg::kDate.start, {23, 12, 31}), 0);
  ASSERT_EQ(client.WriteMultiple(ktr::reg::kTime.start, {23, 59, 59}), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Words clock;
  ASSERT_EQ(client.Read(ktr::reg::kClock.start, 6, clock), 0);
  const std::int64_t written = ClockSeconds({23, 12, 31, 23, 59, 59});
  // At least one second has passed, so the clock has rolled into 2024;
  // a minute is a generous upper bound for a slow machine.
  EXPECT_GE(ClockSeconds(clock), written + 1);
  EXPECT_LE(ClockSeconds(clock), written + 60);
  EXPECT_EQ(clock[0], 24);
  EXPECT_EQ(clock[1], 1);
}

TEST(Clock, SingleFieldWriteKeepsTheOthers) {
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  ASSERT_EQ(client.WriteMultiple(ktr::reg::kClock.start, {24, 2, 29, 8, 5, 30}), 0);
  ASSERT_EQ(client.WriteSingle(ktr::reg::kHour, 17), 0);
  Words clock;
  ASSERT_EQ(client.Read(ktr::reg::kClock.start, 5, clock), 0);
  EXPECT_EQ(clock, (Words{24, 2, 29, 17, 5}));
}

}  // namespace
}  // namespace ktr::test
