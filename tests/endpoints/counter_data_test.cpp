// "/get_counter_data.cgi": seven counter settings, registers 10040-10046.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device_fixture.h"

namespace ktr::test {
namespace {

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

}  // namespace
}  // namespace ktr::test
