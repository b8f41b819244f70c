// "/get_sched_data.cgi&sun" ... "&sat": one day of the weekly schedule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "device_fixture.h"
#include "device_test_access.h"
#include "master_test_access.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

using ScheduleReadTest = DeviceTest;

TEST_F(ScheduleReadTest, MondayOfTheDefaultDevice) {
  EXPECT_EQ(device_->GetSchedData(1),
            R"({"ena":1,"plan":[{"status":2,"time":"07:55","len":3},)"
            R"({"status":1,"time":"08:00","len":5},{"status":1,"time":"08:45","len":5},)"
            R"({"status":2,"time":"08:55","len":3},{"status":1,"time":"09:00","len":5},)"
            R"({"status":1,"time":"09:45","len":5},{"status":1,"time":"10:05","len":5},)"
            R"({"status":1,"time":"10:50","len":5},{"status":1,"time":"11:00","len":5},)"
            R"({"status":1,"time":"11:45","len":5},{"status":1,"time":"11:55","len":5},)"
            R"({"status":1,"time":"12:40","len":5},{"status":0,"time":"00:00","len":1},)"
            R"({"status":0,"time":"00:00","len":1},{"status":0,"time":"00:00","len":1},)"
            R"({"status":0,"time":"00:00","len":1},{"status":0,"time":"00:00","len":1},)"
            R"({"status":0,"time":"00:00","len":1},{"status":0,"time":"00:00","len":1},)"
            R"({"status":0,"time":"00:00","len":1}],"cfg":[{"len_bb":3,"len_eb":3,"len_ws":5},)"
            R"({"len_bb":5,"len_eb":5,"len_ws":10},{"len_bb":2,"len_eb":2,"len_ws":3},)"
            R"({"len_bb":0,"len_eb":0,"len_ws":0},{"len_bb":0,"len_eb":0,"len_ws":0}]})");
  EXPECT_THAT(TakeLog(), IsEmpty());
}

TEST_F(ScheduleReadTest, OnlyTheRequestedDayChanges) {
  EXPECT_THAT(device_->GetSchedData(0),
              ::testing::StartsWith(R"({"ena":0,"plan":[{"status":0,"time":"00:00","len":1},)"));
  EXPECT_THAT(device_->GetSchedData(3),
              ::testing::StartsWith(R"({"ena":1,"plan":[{"status":2,"time":"07:55","len":3},)"));
  EXPECT_EQ(DeviceTestAccess::Schedule(*device_, 0).len[0], 1U);
  EXPECT_EQ(DeviceTestAccess::Schedule(*device_, 3).time[0], "07:55");
  for (int day : {1, 2, 4, 5, 6}) EXPECT_EQ(DeviceTestAccess::Schedule(*device_, day).time[0], "") << day;
}

struct TimeCase {
  std::uint16_t word;
  const char* text;
};

TEST(ScheduleReadMapTest, TimeWordsAndEntryOrder) {
  const TimeCase cases[] = {
      {0x081E, "08:30"},  {0x1700, "23:00"},   {60, "00:60"},
      {0x6400, "100:00"}, {0xFFFF, "255:255"}, {0, "00:00"},
  };
  RegisterMapDevice map;
  std::vector<std::uint16_t> block(76, 0);
  block[0] = 65535;
  for (std::size_t i = 0; i < 20; ++i) {
    block[1 + 3 * i] = static_cast<std::uint16_t>(100 + i);  // status
    block[2 + 3 * i] = cases[i % std::size(cases)].word;     // time
    block[3 + 3 * i] = static_cast<std::uint16_t>(200 + i);  // len
  }
  for (std::size_t j = 0; j < 5; ++j) {
    block[61 + 3 * j] = static_cast<std::uint16_t>(10 + j);  // ws
    block[62 + 3 * j] = static_cast<std::uint16_t>(20 + j);  // bb
    block[63 + 3 * j] = static_cast<std::uint16_t>(30 + j);  // eb
  }
  map.Set(14600, block);
  TModbus modbus;
  TKtrDevice device(modbus, {}, {});
  device.SetSettings(map.Settings());

  const std::string reply = device.GetSchedData(6);
  EXPECT_THAT(reply, ::testing::StartsWith(R"({"ena":65535,"plan":[{"status":100,"time":"08:30","len":200},)"
                                           R"({"status":101,"time":"23:00","len":201},)"));
  for (const TimeCase& c : cases)
    EXPECT_THAT(reply, HasSubstr(std::string("\"time\":\"") + c.text + "\"")) << c.text;
  EXPECT_THAT(reply, HasSubstr(R"({"status":119,"time":"23:00","len":219}],"cfg":[)"));
  EXPECT_THAT(reply, ::testing::EndsWith(
                         R"("cfg":[{"len_bb":20,"len_eb":30,"len_ws":10},)"
                         R"({"len_bb":21,"len_eb":31,"len_ws":11},{"len_bb":22,"len_eb":32,"len_ws":12},)"
                         R"({"len_bb":23,"len_eb":33,"len_ws":13},{"len_bb":24,"len_eb":34,"len_ws":14}]})"));
  EXPECT_EQ(Count(reply, "\"status\""), 20U);
  EXPECT_EQ(Count(reply, "\"len_bb\""), 5U);
}

TEST_F(ScheduleReadTest, DayOutsideTheWeekIsRefusedWithoutDeviceTraffic) {
  const std::uint64_t before = MasterTestAccess::CommandsTaken(modbus_);
  EXPECT_THROW(device_->GetSchedData(7), std::out_of_range);
  EXPECT_THROW(device_->GetSchedData(-1), std::out_of_range);
  EXPECT_EQ(MasterTestAccess::CommandsTaken(modbus_), before);
  EXPECT_THAT(TakeLog(), IsEmpty());
  // The device is still usable afterwards (the mutex was never held).
  EXPECT_THAT(device_->GetSchedData(2), ::testing::StartsWith(R"({"ena":1,)"));
}

}  // namespace
}  // namespace ktr::test
