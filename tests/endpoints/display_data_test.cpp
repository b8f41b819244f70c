// "/get_display_data.cgi": six display settings, registers 10000-10005.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using DisplayDataTest = DeviceTest;

TEST_F(DisplayDataTest, RegistersInKeyOrderAsUnsignedNumbers) {
  EXPECT_EQ(device_->GetDisplayData(), R"({"tmpe":10,"dtpe":3,"cdpe":0,"s1pe":3,"s2pe":3,"stpe":0})");
  WriteSim(10000, {65535, 1, 2, 32768, 4, 5});
  EXPECT_EQ(device_->GetDisplayData(), R"({"tmpe":65535,"dtpe":1,"cdpe":2,"s1pe":32768,"s2pe":4,"stpe":5})");
  EXPECT_THAT(TakeLog(), IsEmpty());
}

TEST_F(DisplayDataTest, PortThatCannotBeOpenedGivesEmptyReplyAndOneLine) {
  PointAtMissingPort();
  EXPECT_EQ(device_->GetDisplayData(), "");
  EXPECT_THAT(TakeLog(), ::testing::ElementsAreArray(ktr::test::kMissingPortLog));
}

TEST(DisplayDataMapTest, FailedReadLogsAndRepeatsTheLastGoodValues) {
  RegisterMapDevice map;
  map.Set(10000, {6, 5, 4, 3, 2, 1});
  TModbus modbus;
  std::vector<std::string> log;
  TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
  device.SetSettings(map.Settings());

  const char* good = R"({"tmpe":6,"dtpe":5,"cdpe":4,"s1pe":3,"s2pe":2,"stpe":1})";
  EXPECT_EQ(device.GetDisplayData(), good);
  EXPECT_EQ(ToHex(map.Requests().at(0)), ToHex(WithCrc({1, 3, 0x27, 0x10, 0, 6})));
  map.Remove(10003, 1);
  EXPECT_EQ(device.GetDisplayData(), good);
  EXPECT_THAT(log, ElementsAre("Error read SET_10000_10005 registers !!!"));
}

}  // namespace
}  // namespace ktr::test
