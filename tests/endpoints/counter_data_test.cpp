// "/get_counter_data.cgi": seven counter settings, registers 10040-10046.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using CounterDataTest = DeviceTest;

TEST_F(CounterDataTest, RegistersInKeyOrderAsUnsignedNumbers) {
  EXPECT_EQ(device_->GetCounterData(),
            R"({"cdir":0,"lm_d":0,"lm_h":1,"lm_m":30,"lm_s":0,"rlpe":0,"crpt":1})");
  WriteSim(10040, {1, 2, 3, 4, 5, 6, 65535});
  EXPECT_EQ(device_->GetCounterData(),
            R"({"cdir":1,"lm_d":2,"lm_h":3,"lm_m":4,"lm_s":5,"rlpe":6,"crpt":65535})");
  EXPECT_THAT(TakeLog(), IsEmpty());
}

TEST_F(CounterDataTest, PortThatCannotBeOpenedGivesEmptyReplyAndOneLine) {
  PointAtMissingPort();
  EXPECT_EQ(device_->GetCounterData(), "");
  EXPECT_THAT(TakeLog(), ::testing::ElementsAreArray(ktr::test::kMissingPortLog));
}

TEST(CounterDataMapTest, FailedReadLogsAndRepeatsTheLastGoodValues) {
  RegisterMapDevice map;
  map.Set(10040, {7, 6, 5, 4, 3, 2, 1});
  TModbus modbus;
  std::vector<std::string> log;
  TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
  device.SetSettings(map.Settings());

  const char* good = R"({"cdir":7,"lm_d":6,"lm_h":5,"lm_m":4,"lm_s":3,"rlpe":2,"crpt":1})";
  EXPECT_EQ(device.GetCounterData(), good);
  EXPECT_EQ(ToHex(map.Requests().at(0)), ToHex(WithCrc({1, 3, 0x27, 0x38, 0, 7})));
  map.Remove(10046, 1);
  EXPECT_EQ(device.GetCounterData(), good);
  EXPECT_THAT(log, ElementsAre("Error read SET_10040_10046 registers !!!"));
}

}  // namespace
}  // namespace ktr::test
