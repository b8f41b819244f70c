// The device search: address scan, gauge, address list, log lines, firmware
// text and version.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "device_fixture.h"
#include "device_test_access.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Gauge = std::tuple<int, int, int>;
using Reads = std::vector<std::pair<unsigned, unsigned>>;

// Gauge calls of a search, from whatever thread makes them.
class GaugeRecorder {
 public:
  TKtrDevice::SearchProgress Progress() {
    TKtrDevice::SearchProgress progress;
    progress.gauge = [this](int minimum, int maximum, int position) {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.emplace_back(minimum, maximum, position);
    };
    return progress;
  }
  std::vector<Gauge> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  int Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.empty() ? -1 : std::get<2>(calls_.back());
  }

 private:
  std::mutex mutex_;
  std::vector<Gauge> calls_;
};

class DeviceSearchTest : public DeviceTest {
 protected:
  // Settings a search must overwrite.
  void Scramble() {
    SerialSettings s = device_->Settings();
    s.slaveAddress = 77;
    s.timeoutMs = 333;
    device_->SetSettings(s);
  }
  GaugeRecorder gauge_;
};

TEST_F(DeviceSearchTest, FindsTheDeviceAtAddressFive) {
  StartDevice({"--address", "5"});
  Scramble();
  EXPECT_TRUE(device_->SearchDevice(sim_->link(), gauge_.Progress()));

  EXPECT_THAT(gauge_.Calls(), ElementsAre(Gauge{1, 126, 0}, Gauge{1, 126, 1}, Gauge{1, 126, 2},
                                          Gauge{1, 126, 3}, Gauge{1, 126, 4}));
  EXPECT_THAT(TakeAddressLists(), ElementsAre(IsEmpty(), ElementsAre("5")));
  EXPECT_THAT(TakeLog(), ElementsAre("Search for connected device...", "Device found", "KTR Clock fw 0.35.4",
                                     "Press 'Start' button for setting device"));
  const SerialSettings s = device_->Settings();
  EXPECT_EQ(s.slaveAddress, 5);
  EXPECT_EQ(s.timeoutMs, 1000);
  EXPECT_EQ(s.portName, sim_->link());
  EXPECT_EQ(device_->FirmwareVersionValue(), 8964U);  // 0.35.4
  EXPECT_EQ(device_->GetWebData(), R"({"firmware":"KTR Clock fw 0.35.4"})");
  // Later cycles talk to the found device: its own address setting is 5.
  EXPECT_THAT(device_->GetSetData(), ::testing::HasSubstr(R"("diad":5,)"));
}

TEST_F(DeviceSearchTest, OnlyTheFirstOfTwoDevicesIsFound) {
  StartDevice({"--address", "3", "--address", "7"});
  EXPECT_TRUE(device_->SearchDevice(sim_->link(), gauge_.Progress()));
  EXPECT_EQ(gauge_.Last(), 2);
  EXPECT_THAT(TakeAddressLists(), ElementsAre(IsEmpty(), ElementsAre("3")));
  EXPECT_EQ(device_->Settings().slaveAddress, 3);
}

TEST_F(DeviceSearchTest, PortThatCannotBeOpened) {
  EXPECT_FALSE(device_->SearchDevice(ktr::test::kMissingPort, gauge_.Progress()));
  std::vector<std::string> expected{"Search for connected device..."};
  for (int address = 1; address <= 126; ++address) {
    expected.insert(expected.end(), ktr::test::kMissingPortLog.begin(), ktr::test::kMissingPortLog.end());
  }
  expected.push_back("Please check the device connection");
  EXPECT_EQ(TakeLog(), expected);
  EXPECT_THAT(gauge_.Calls(), ElementsAre(Gauge{1, 126, 0}));
  EXPECT_THAT(TakeAddressLists(), ElementsAre(IsEmpty()));
  EXPECT_EQ(device_->Settings().slaveAddress, 126);
  EXPECT_EQ(device_->Settings().timeoutMs, 1000);
}

// 126 probes of 100 ms each: about 13 s.
TEST_F(DeviceSearchTest, SilentDeviceAndAHandlerThatWaitsForTheScan) {
  StartDevice({"--fault", "silent"});
  Scramble();
  bool found = true;
  std::thread search([&] { found = device_->SearchDevice(sim_->link(), gauge_.Progress()); });
  while (gauge_.Last() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // A handler arriving during the scan gets the line only after it.
  device_->GetCounterData();
  EXPECT_EQ(gauge_.Last(), 126);
  search.join();

  EXPECT_FALSE(found);
  const std::vector<Gauge> calls = gauge_.Calls();
  ASSERT_EQ(calls.size(), 127U);
  for (int i = 0; i <= 126; ++i) EXPECT_EQ(calls[static_cast<std::size_t>(i)], (Gauge{1, 126, i}));
  std::vector<std::string> log = TakeLog();
  std::erase(log, "Error read SET_10040_10046 registers !!!");  // the waiting handler's
  EXPECT_THAT(log, ElementsAre("Search for connected device...", "Please check the device connection"));
  EXPECT_EQ(device_->Settings().slaveAddress, 126);
  EXPECT_EQ(device_->Settings().timeoutMs, 1000);
}

TEST_F(DeviceSearchTest, FirmwareWithoutVersionRegisters) {
  StartDevice({"--firmware", "none"});
  EXPECT_TRUE(device_->SearchDevice(sim_->link(), gauge_.Progress()));
  EXPECT_EQ(device_->FirmwareVersionValue(), 0U);
  EXPECT_THAT(TakeLog(), ElementsAre("Search for connected device...", "Device found", "KTR Clock fw 0.34.1",
                                     "Press 'Start' button for setting device"));
}

struct TextCase {
  std::uint16_t length;              // register 8000
  std::vector<std::uint16_t> words;  // from 8001
  Reads versionReads;                // after the probe
  const char* text;                  // as logged (UTF-8)
  const char* webData;
};

TEST(DeviceSearchMapTest, FirmwareText) {
  const std::vector<std::uint16_t> full(128, 0x4142);
  const std::string ab256 = [] {
    std::string s;
    for (int i = 0; i < 128; ++i) s += "AB";
    return s;
  }();
  const std::string ab256Json = R"({"firmware":")" + ab256 + "\"}";
  const TextCase cases[] = {
      {2, {0x4142, 0x4300}, {{8000, 1}, {8001, 2}, {5000, 3}}, "ABC", R"({"firmware":"ABC"})"},
      {3, {0x4142, 0x0043, 0x4445}, {{8000, 1}, {8001, 3}, {5000, 3}}, "AB", R"({"firmware":"AB"})"},
      // An empty text is no request for zero registers.
      {0, {}, {{8000, 1}, {5000, 3}}, "", R"({"firmware":""})"},
      // More than the 128 registers the text has room for.
      {200, full, {{8000, 1}, {8001, 128}, {5000, 3}}, ab256.c_str(), ab256Json.c_str()},
      {129, full, {{8000, 1}, {8001, 128}, {5000, 3}}, ab256.c_str(), ab256Json.c_str()},
      // 8-bit text is Latin-1; quotes and control characters are escaped.
      {2,
       {0xE9B0, 0x2201},
       {{8000, 1}, {8001, 2}, {5000, 3}},
       "\xC3\xA9\xC2\xB0\"\x01",
       "{\"firmware\":\"\xC3\xA9\xC2\xB0\\\"\\u0001\"}"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.length);
    RegisterMapDevice map;
    map.Set(8000, {c.length});
    map.Set(8001, c.words);
    map.Set(5000, {0x0030, 0x3335, 0x0034});
    TModbus modbus;
    std::vector<std::string> log;
    TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
    EXPECT_TRUE(device.SearchDevice(map.Settings().portName, {}));
    Reads expected{{8000, 1}};
    expected.insert(expected.end(), c.versionReads.begin(), c.versionReads.end());
    EXPECT_EQ(map.Reads(), expected);
    EXPECT_THAT(log, ElementsAre("Search for connected device...", "Device found", c.text,
                                 "Press 'Start' button for setting device"));
    EXPECT_EQ(device.FirmwareTextCopy(), c.text);
    EXPECT_EQ(device.FirmwareVersionValue(), 8964U);
    EXPECT_EQ(device.GetWebData(), c.webData);
  }
}

struct VersionCase {
  std::vector<std::uint16_t> registers;  // 5000-5002; empty: absent
  std::uint32_t version;
};

TEST(DeviceSearchMapTest, VersionNumber) {
  const VersionCase cases[] = {
      {{0x0030, 0x3335, 0x0034}, 8964},   // 0.35.4
      {{0x0031, 0x0032, 0x0033}, 66051},  // 1.2.3
      {{0x3939, 0x3130, 0x0030}, (99U << 16) | (10U << 8)},
      {{}, 0},
      // Stray bytes wrap in 8 bits: ('A' - '0') * 10 + ('B' - '0') = 188.
      {{0x4142, 0x0000, 0x0000}, (188U << 16) | (208U << 8) | 208U},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.version);
    RegisterMapDevice map;
    map.Set(8000, {1});
    map.Set(8001, {0x4100});
    map.Set(5000, c.registers);
    TModbus modbus;
    std::vector<std::string> log;
    TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
    DeviceTestAccess::SetFirmwareVersion(device, 0x123456);
    EXPECT_TRUE(device.SearchDevice(map.Settings().portName, {}));
    EXPECT_EQ(device.FirmwareVersionValue(), c.version);
    EXPECT_EQ(log.at(2), "A");
  }
}

TEST(DeviceSearchMapTest, FailedTextReadKeepsThePreviousText) {
  RegisterMapDevice map;
  map.Set(8000, {1});
  map.Set(8001, {0x4142});
  map.Set(5000, {0x0030, 0x3335, 0x0034});
  TModbus modbus;
  std::vector<std::string> log;
  TKtrDevice device(modbus, [&log](const std::string& line) { log.push_back(line); }, {});
  ASSERT_TRUE(device.SearchDevice(map.Settings().portName, {}));

  map.Set(8000, {2});
  map.Remove(8001, 1);
  log.clear();
  EXPECT_TRUE(device.SearchDevice(map.Settings().portName, {}));
  EXPECT_THAT(log,
              ElementsAre("Search for connected device...", "Device found", "Error read device version !!!",
                          "AB", "Press 'Start' button for setting device"));
  EXPECT_EQ(device.GetWebData(), R"({"firmware":"AB"})");
  EXPECT_EQ(device.Settings().slaveAddress, 1);
}

}  // namespace
}  // namespace ktr::test
