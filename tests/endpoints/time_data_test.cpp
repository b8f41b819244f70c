// "/get_time_data.cgi": the clock registers as ISO date, time, zone and
// daylight saving.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::IsEmpty;

struct ClockCase {
  std::vector<std::uint16_t> registers;  // 10020-10027
  const char* reply;
};

TEST(TimeDataMapTest, ClockRegistersGiveExactReply) {
  const ClockCase cases[] = {
      {{23, 11, 2, 9, 5, 7, 2, 0}, R"({"date":"2023-11-02","time":"09:05:07","tz":2,"dst":0})"},
      // Widths are a minimum: a minute of 100 keeps all its digits; a zone
      // of -2 arrives as 65534 and stays unsigned.
      {{99, 12, 31, 23, 100, 59, 65534, 1}, R"({"date":"2099-12-31","time":"23:100:59","tz":65534,"dst":1})"},
      // Years 2000-2009 keep their full four digits.
      {{5, 1, 1, 0, 0, 0, 65535, 65535}, R"({"date":"2005-01-01","time":"00:00:00","tz":65535,"dst":65535})"},
      {{100, 1, 1, 0, 0, 0, 0, 0}, R"({"date":"20100-01-01","time":"00:00:00","tz":0,"dst":0})"},
      // All zero, as the image holds before the first good read.
      {{0, 0, 0, 0, 0, 0, 0, 0}, R"({"date":"2000-00-00","time":"00:00:00","tz":0,"dst":0})"},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(c.reply);
    RegisterMapDevice map;
    map.Set(10020, c.registers);
    TModbus modbus;
    TKtrDevice device(modbus, {}, {});
    device.SetSettings(map.Settings());
    EXPECT_EQ(device.GetTimeData(), c.reply);
    ASSERT_EQ(map.Requests().size(), 1U);
    EXPECT_EQ(ToHex(map.Requests()[0]), ToHex(WithCrc({1, 3, 0x27, 0x24, 0, 8})));
  }
}

using TimeDataTest = DeviceTest;

TEST_F(TimeDataTest, SimulatedClockAfterSettingIt) {
  WriteSim(10020, {23, 11, 2, 9, 5, 7});
  const std::string reply = device_->GetTimeData();
  // The simulated clock runs on: allow it a few seconds.
  EXPECT_THAT(reply,
              ::testing::MatchesRegex(R"(\{"date":"2023-11-02","time":"09:05:0[7-9]","tz":1,"dst":1\})"));
  EXPECT_THAT(TakeLog(), IsEmpty());
}

}  // namespace
}  // namespace ktr::test
