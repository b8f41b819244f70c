// "/get_web_data.cgi", "/get_config_status.cgi" and "/get_ktr_list.cgi".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device_fixture.h"
#include "device_test_access.h"
#include "register_map_device.h"

namespace ktr::test {
namespace {

using ::testing::IsEmpty;

using ReportDataTest = DeviceTest;

TEST_F(ReportDataTest, NothingReportedBeforeSearchAndSettingsRead) {
  EXPECT_EQ(device_->GetWebData(), R"({"firmware":""})");
  EXPECT_EQ(device_->GetKtrList(), "[]");
}

TEST_F(ReportDataTest, DefaultDeviceListAfterSettingsRead) {
  device_->GetSetData();
  EXPECT_EQ(device_->GetKtrList(), R"([{"value":2,"desc":"Sensor"},{"value":3,"desc":"Sync. dev."},)"
                                   R"({"value":5,"desc":"Sync. dev. + temp. sensor"}])");
}

TEST_F(ReportDataTest, DeviceTypeNamesByTypeCode) {
  WriteSim(10100, {8 << 8});
  WriteSim(10101, {0x0501, 0x0000, 0x0102, 0x0203, 0x0304, 0x0405, 0xFEFE, 0xFFFF});
  device_->GetSetData();
  EXPECT_EQ(device_->GetKtrList(),
            R"([{"value":5,"desc":"KTR Clock"},{"value":0,"desc":""},{"value":1,"desc":"Sensor"},)"
            R"({"value":2,"desc":"Sync. dev. + temp. sensor"},{"value":3,"desc":"Sync. dev."},)"
            R"({"value":4,"desc":"Unknown device"},{"value":254,"desc":"Unknown device"},)"
            R"({"value":255,"desc":"Unknown device"}])");
}

TEST_F(ReportDataTest, ListCountIsTheHighByteAndAtMost128) {
  WriteSim(10100, {0xFF00});
  device_->GetSetData();
  const std::string list = device_->GetKtrList();
  std::size_t entries = 0;
  for (std::size_t at = list.find("\"value\""); at != std::string::npos; at = list.find("\"value\"", at + 1))
    ++entries;
  EXPECT_EQ(entries, 128U);

  WriteSim(10100, {0x00FF});  // a low byte alone counts no entry
  device_->GetSetData();
  EXPECT_EQ(device_->GetKtrList(), "[]");
}

TEST_F(ReportDataTest, DiadOtherThanOneEmptiesTheReportedList) {
  device_->GetSetData();
  WriteSim(10060, {2});
  device_->GetSetData();
  EXPECT_EQ(device_->GetKtrList(), "[]");
  EXPECT_EQ(DeviceTestAccess::Data(*device_).DeviceList[0], 0x0202U) << "older entries stay in memory";
}

TEST_F(ReportDataTest, ConfigStatusFollowsRegister10080) {
  EXPECT_EQ(device_->GetConfigStatus(), R"({"value":0})");
  WriteSim(10080, {0x5555});  // runs the configuration: the register reads 1
  EXPECT_EQ(device_->GetConfigStatus(), R"({"value":1})");
  EXPECT_THAT(TakeLog(), IsEmpty());
}

TEST(ReportDataMapTest, FirmwareAndListAnswerWhileALongCycleHoldsTheDevice) {
  RegisterMapDevice map;
  map.Set(10060, std::vector<std::uint16_t>(19, 1));
  map.Set(10080, {0});
  map.Set(10084, {0});
  map.Set(10100, {0x0100});
  map.Set(10101, {0x0701});
  map.Set(10300, {0, 0, 0, 0});
  TModbus modbus;
  TKtrDevice device(modbus, {}, {});
  device.SetSettings(map.Settings());
  DeviceTestAccess::SetFirmwareVersion(device, 0x2304);
  device.GetSetData();
  ASSERT_EQ(device.GetKtrList(), R"([{"value":7,"desc":"KTR Clock"}])");

  // Address a device that is not there: a settings read then holds the
  // device mutex for three reply time-outs.
  SerialSettings absent = map.Settings();
  absent.slaveAddress = 2;
  device.SetSettings(absent);
  std::atomic<bool> done{false};
  std::thread slow([&] {
    device.GetSetData();
    done = true;
  });
  const std::size_t before = map.Requests().size();
  while (map.Requests().size() == before) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  EXPECT_EQ(device.GetWebData(), R"({"firmware":""})");
  EXPECT_EQ(device.GetKtrList(), R"([{"value":7,"desc":"KTR Clock"}])");
  EXPECT_FALSE(done) << "the replies above must not wait for the cycle";
  slow.join();
}

}  // namespace
}  // namespace ktr::test
