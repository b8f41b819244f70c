// "/get_display_data.cgi": six display settings, registers 10000-10005.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device_fixture.h"

namespace ktr::test {
namespace {

using ::testing::IsEmpty;

using DisplayDataTest = DeviceTest;

TEST_F(DisplayDataTest, RegistersInKeyOrderAsUnsignedNumbers) {
  EXPECT_EQ(device_->GetDisplayData(), R"({"tmpe":10,"dtpe":3,"cdpe":0,"s1pe":3,"s2pe":3,"stpe":0})");
  WriteSim(10000, {65535, 1, 2, 32768, 4, 5});
  EXPECT_EQ(device_->GetDisplayData(), R"({"tmpe":65535,"dtpe":1,"cdpe":2,"s1pe":32768,"s2pe":4,"stpe":5})");
  EXPECT_THAT(TakeLog(), IsEmpty());
}

}  // namespace
}  // namespace ktr::test
