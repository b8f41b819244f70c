// "/get_set_data.cgi": sixteen settings, the reads that depend on the
// firmware version, the bus address and the device-list count, and failed
// blocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include <chrono>

#include "device_fixture.h"
#include "device_test_access.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Reads = std::vector<std::pair<unsigned, unsigned>>;

using SettingsReadTest = DeviceTest;

TEST_F(SettingsReadTest, DefaultDeviceAtAddressOne) {
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2304);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device_->GetSetData(),
            R"({"bmod":1,"blvl":8,"bloc":0,"bgra":2,"diad":1,"s1ad":2,"s1un":0,"s1mo":1,"s1rf":5,)"
            R"("s2ad":3,"s2un":2,"s2mo":1,"s2rf":5,"sype":1,"stmo":0,"poll":30})");
  // Six reads with a 50 ms pause between each two.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_THAT(TakeLog(), IsEmpty());
}

TEST_F(SettingsReadTest, FirmwareBelow0_35_4ReportsOneForBothRfSettings) {
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2303);
  const std::string reply = device_->GetSetData();
  EXPECT_THAT(reply, HasSubstr(R"("s1rf":1,)"));
  EXPECT_THAT(reply, HasSubstr(R"("s2rf":1,)"));
  const auto image = device_->ImageCopy();
  EXPECT_EQ(image[200], 1);
  EXPECT_EQ(image[201], 1);
}

TEST_F(SettingsReadTest, OldFirmwareReadsTheShortBlockWithoutError) {
  StartDevice({"--firmware", "old"});
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2303);
  EXPECT_THAT(device_->GetSetData(), HasSubstr(R"("s1rf":1,)"));
  EXPECT_THAT(TakeLog(), IsEmpty());
}

struct PollCase {
  std::uint16_t diad;
  std::uint32_t poll;
};

TEST_F(SettingsReadTest, PollOnlyWhenDiadIsOne) {
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2304);
  for (const PollCase c : {PollCase{1, 30}, PollCase{2, 0}, PollCase{0, 0}, PollCase{257, 0}}) {
    SCOPED_TRACE(c.diad);
    WriteSim(10060, {c.diad});
    const std::string reply = device_->GetSetData();
    EXPECT_THAT(reply, HasSubstr(R"("diad":)" + std::to_string(c.diad) + ","));
    EXPECT_THAT(reply, ::testing::EndsWith(R"("poll":)" + std::to_string(c.poll) + "}"));
  }
}

TEST_F(SettingsReadTest, DeviceAtAnotherAddressReportsItsOwnAddressAndNoPoll) {
  StartDevice({"--address", "3"});
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2304);
  const std::string reply = device_->GetSetData();
  EXPECT_THAT(reply, HasSubstr(R"("diad":3,)"));
  EXPECT_THAT(reply, ::testing::EndsWith(R"("poll":0})"));
  EXPECT_EQ(device_->GetKtrList(), "[]");
}

struct ReadsCase {
  std::uint8_t address;
  std::uint32_t version;
  std::uint16_t listCount;  // register 10100
  Reads reads;
};

TEST(SettingsReadMapTest, ReadsFollowVersionAddressAndListCount) {
  const Reads base19{{10060, 19}, {10300, 4}, {10080, 1}};
  const auto with = [](Reads r, std::initializer_list<std::pair<unsigned, unsigned>> more) {
    r.insert(r.end(), more);
    return r;
  };
  const ReadsCase cases[] = {
      {1, 0x2304, 0x0300, with(base19, {{10084, 1}, {10100, 1}, {10101, 3}})},
      {1, 0x2303, 0x0300, {{10060, 17}, {10300, 4}, {10080, 1}, {10084, 1}, {10100, 1}, {10101, 3}}},
      {1, 0x2304, 0x0000, with(base19, {{10084, 1}, {10100, 1}})},
      // The count is the high byte: a low byte alone is no entry.
      {1, 0x2304, 0x00FF, with(base19, {{10084, 1}, {10100, 1}})},
      // Never more than the 128 list registers.
      {1, 0x2304, 0xFF00, with(base19, {{10084, 1}, {10100, 1}, {10101, 128}})},
      {1, 0x2304, 0x8000, with(base19, {{10084, 1}, {10100, 1}, {10101, 128}})},
      {3, 0x2304, 0x0300, base19},
  };
  for (const ReadsCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "address " << int{c.address} << " version " << c.version << " count "
                                    << c.listCount);
    RegisterMapDevice map(c.address);
    map.Set(10060, std::vector<std::uint16_t>(19, 1));
    map.Set(10080, {1});
    map.Set(10084, {30});
    map.Set(10100, {c.listCount});
    map.Set(10101, std::vector<std::uint16_t>(128, 0x0101));
    map.Set(10300, {1, 2, 3, 4});
    TModbus modbus;
    TKtrDevice device(modbus, {}, {});
    device.SetSettings(map.Settings());
    DeviceTestAccess::SetFirmwareVersion(device, c.version);
    device.GetSetData();
    EXPECT_EQ(map.Reads(), c.reads);
    const std::size_t listed = c.reads.back().first == 10101 ? c.reads.back().second : 0;
    EXPECT_EQ(DeviceTestAccess::Data(device).DeviceListCount, listed);
  }
}

struct SettingsBlockCase {
  std::uint16_t start;
  std::uint16_t count;
  const char* line;
};

TEST(SettingsReadMapTest, FailedBlockLogsItsLineAndKeepsTheLastValues) {
  const SettingsBlockCase cases[] = {
      {10060, 19, "Error read SET_10060_10078 registers !!!"},
      {10300, 4, "Error read SET_10300_10303 registers !!!"},
      {10080, 1, "Error read SET_10080 register !!!"},
      {10084, 1, "Error read SET_10084 register !!!"},
      {10100, 1, "Error read SET_10100 register !!!"},
      {10101, 2, "Error read SET_10101_10228 register !!!"},
  };
  for (const SettingsBlockCase& c : cases) {
    SCOPED_TRACE(c.line);
    RegisterMapDevice map;
    map.Set(10060, {1, 2, 0, 1, 0, 0, 0, 0, 3, 2, 1, 0, 0, 0, 0, 1, 0, 5, 6});
    map.Set(10080, {1});
    map.Set(10084, {30});
    map.Set(10100, {0x0200});
    map.Set(10101, {0x0501, 0x0602});
    map.Set(10300, {1, 8, 0, 2});
    TModbus modbus;
    std::vector<std::string> log;
    TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
    device.SetSettings(map.Settings());
    DeviceTestAccess::SetFirmwareVersion(device, 0x2304);
    const std::string good = device.GetSetData();
    const std::string list = device.GetKtrList();
    ASSERT_EQ(list, R"([{"value":5,"desc":"KTR Clock"},{"value":6,"desc":"Sensor"}])");

    map.Remove(c.start, c.count);
    std::string expected = good;
    if (c.start == 10060) {
      // 10077/10078 are preset to 1 before the read, so a failed read shows 1.
      for (const char* key : {"\"s1rf\":", "\"s2rf\":"}) {
        const auto at = expected.find(key) + std::strlen(key);
        expected.replace(at, 1, "1");
      }
    }
    EXPECT_EQ(device.GetSetData(), expected);
    EXPECT_EQ(device.GetKtrList(), list);
    EXPECT_THAT(log, ElementsAre(c.line));
    // A failed count read keeps the last count: the list is still read.
    EXPECT_EQ(map.Reads().size(), 12U);
  }
}

}  // namespace
}  // namespace ktr::test
