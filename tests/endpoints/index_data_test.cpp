// "/get_index_data.cgi": clock and sensor texts, the 17/19-register rule,
// failed blocks, and two requests at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "device_fixture.h"
#include "device_test_access.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using Reads = std::vector<std::pair<unsigned, unsigned>>;

#define DEG "\xC2\xB0"  // the degree sign in UTF-8

// The string value of `key` in a flat JSON reply.
std::string Value(const std::string& reply, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const std::size_t at = reply.find(marker);
  if (at == std::string::npos) return "<no " + key + ">";
  const std::size_t from = at + marker.size();
  return reply.substr(from, reply.find('"', from) - from);
}

// A device with a standing clock of 2023-11-02 09:05:07, sensor 1 at 21.5
// degrees Celsius and sensor 2 switched off; 10077/10078 hold 7.
void FillIndexMap(RegisterMapDevice& d) {
  d.Set(10060, {1, 2, 0, 1, 0, 0, 0, 0, 3, 2, 0, 0, 0, 0, 0, 1, 0, 7, 7});
  d.Set(0, std::vector<std::uint16_t>(20, 0));
  d.Set(0, {215});
  d.Set(160, std::vector<std::uint16_t>(10, 0));
  d.Set(10020, {23, 11, 2, 9, 5, 7, 1, 0});
}

constexpr const char* kMapReply =
    R"({"time":"09:05:07","date":"02-11-2023","sensor1unit":"21.5 )" DEG R"(C","sensor2unit":"---"})";

using IndexDataTest = DeviceTest;

TEST_F(IndexDataTest, DefaultDeviceGivesLiveClockAndSensorTexts) {
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2304);
  const std::string reply = device_->GetIndexData();
  EXPECT_THAT(Value(reply, "time"), MatchesRegex("[0-9][0-9]:[0-9][0-9]:[0-9][0-9]"));
  EXPECT_THAT(Value(reply, "date"), MatchesRegex("[0-9][0-9]-[0-9][0-9]-20[0-9][0-9]"));
  EXPECT_THAT(reply, ::testing::EndsWith(R"(","sensor1unit":"21.5 )" DEG R"(C","sensor2unit":"52 %RH"})"));
  EXPECT_THAT(TakeLog(), IsEmpty());
}

struct SensorCase {
  int sensor;
  std::uint16_t mode;
  std::uint16_t unit;
  std::uint16_t value;  // into the register that the unit reads
  const char* text;
};

TEST_F(IndexDataTest, SensorTextFollowsModeAndUnit) {
  const SensorCase cases[] = {
      {1, 1, 0, 215, "21.5 " DEG "C"}, {1, 2, 0, 53, " 5.3 " DEG "C"},
      {2, 1, 1, 987, "98.7 " DEG "F"}, {1, 1, 0, 65535, "6553.5 " DEG "C"},
      {1, 1, 2, 9, " 0 %RH"},          {2, 2, 2, 455, "45 %RH"},
      {1, 1, 3, 12005, "12.005 g/m3"}, {2, 1, 3, 8050, " 8.050 g/m3"},
      {1, 0, 0, 215, "---"},           {2, 3, 0, 215, "---"},
      {1, 1, 4, 215, "---"},
  };
  DeviceTestAccess::SetFirmwareVersion(*device_, 0x2304);
  for (const SensorCase& c : cases) {
    SCOPED_TRACE(c.text);
    const auto entry = static_cast<std::uint16_t>(c.sensor - 1);
    WriteSim(c.sensor == 1 ? 10062 : 10069, {c.unit, c.mode});
    const std::uint16_t base = c.unit == 2 ? 10 : c.unit == 3 ? 160 : 0;
    WriteSim(static_cast<std::uint16_t>(base + entry), {c.value});
    const std::string reply = device_->GetIndexData();
    EXPECT_EQ(Value(reply, c.sensor == 1 ? "sensor1unit" : "sensor2unit"), c.text);
  }
}

struct VersionCase {
  std::uint32_t version;
  unsigned settingsCount;
  std::uint32_t rf;  // s1rf and s2rf after the read
};

TEST(IndexDataMapTest, ReplyAndReadsFollowTheFirmwareVersion) {
  for (const VersionCase c : {VersionCase{0x2303, 17, 1}, VersionCase{0, 17, 1}, VersionCase{0x2304, 19, 7},
                              VersionCase{0x010000, 19, 7}}) {
    SCOPED_TRACE(c.version);
    RegisterMapDevice map;
    FillIndexMap(map);
    TModbus modbus;
    TKtrDevice device(modbus, {}, {});
    device.SetSettings(map.Settings());
    DeviceTestAccess::SetFirmwareVersion(device, c.version);

    EXPECT_EQ(device.GetIndexData(), kMapReply);
    EXPECT_EQ(map.Reads(), (Reads{{10060, c.settingsCount}, {0, 20}, {160, 10}, {10020, 8}}));
    EXPECT_EQ(ToHex(map.Requests().at(0)),
              ToHex(WithCrc({1, 3, 0x27, 0x4C, 0, static_cast<std::uint8_t>(c.settingsCount)})));
    const KTR_DATA data = DeviceTestAccess::Data(device);
    EXPECT_EQ(data.s1rf, c.rf);
    EXPECT_EQ(data.s2rf, c.rf);
  }
}

struct BlockCase {
  std::uint16_t start;
  std::uint16_t count;
  const char* line;
};

TEST(IndexDataMapTest, FailedBlockLogsItsLineAndKeepsTheLastValues) {
  for (const BlockCase c : {BlockCase{10060, 19, "Error read SET_10060_10078 registers !!!"},
                            BlockCase{0, 20, "Error read SET_0_19 registers !!!"},
                            BlockCase{160, 10, "Error read SET_160_169 registers !!!"},
                            BlockCase{10020, 8, "Error read SET_10020_10027 registers !!!"}}) {
    SCOPED_TRACE(c.line);
    RegisterMapDevice map;
    FillIndexMap(map);
    TModbus modbus;
    std::vector<std::string> log;
    TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
    device.SetSettings(map.Settings());
    DeviceTestAccess::SetFirmwareVersion(device, 0x2304);
    ASSERT_EQ(device.GetIndexData(), kMapReply);

    map.Remove(c.start, c.count);
    // The device changes the blocks that still answer.
    map.Set(10020, {24, 1, 3, 10, 11, 12});
    map.Set(0, {216});
    map.Set(10077, {8, 8});
    const std::string reply = device.GetIndexData();
    EXPECT_THAT(log, ElementsAre(c.line));
    EXPECT_EQ(map.Reads().size(), 8U) << "every block is still read";
    EXPECT_EQ(Value(reply, "time"), c.start == 10020 ? "09:05:07" : "10:11:12");
    EXPECT_EQ(Value(reply, "sensor1unit"), c.start == 0 ? "21.5 " DEG "C" : "21.6 " DEG "C");
    // 10077/10078 are preset to 1 before every settings read, so a failed
    // read leaves 1 in both.
    EXPECT_EQ(DeviceTestAccess::Data(device).s1rf, c.start == 10060 ? 1U : 8U);
  }
}

TEST(IndexDataMapTest, TwoRequestsAtOnceNeverShareTheLine) {
  RegisterMapDevice map;
  FillIndexMap(map);
  map.SetReplyDelay(60);
  TModbus modbus;
  TKtrDevice device(modbus, {}, {});
  device.SetSettings(map.Settings());
  DeviceTestAccess::SetFirmwareVersion(device, 0x2304);

  std::string first;
  std::string second;
  std::thread a([&] { first = device.GetIndexData(); });
  while (map.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::thread b([&] { second = device.GetIndexData(); });
  a.join();
  b.join();
  EXPECT_EQ(first, kMapReply);
  EXPECT_EQ(second, kMapReply);
  const Reads one{{10060, 19}, {0, 20}, {160, 10}, {10020, 8}};
  Reads both = one;
  both.insert(both.end(), one.begin(), one.end());
  EXPECT_EQ(map.Reads(), both);
}

}  // namespace
}  // namespace ktr::test
