// Backup, restore and clone against real simulated devices: two devices on
// one bus (ktr-sim --address 3 --address 5), the frames on the wire seen
// through the master's trace.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "config_restore.h"
#include "device_fixture.h"
#include "ktr_register_map.h"

namespace ktr::test {
namespace {

// A request frame sent: function and first register.
struct Sent {
  std::uint8_t address, function;
  std::uint16_t start;
};

class ConfigRestoreTest : public DeviceTest {
 protected:
  void SetUp() override {
    // Set before the first request, as the trace must be.
    modbus_.SetTrace([this](bool sent, const std::uint8_t* data, std::size_t length) {
      if (!sent || length < 4) return;
      std::lock_guard<std::mutex> lock(traceMutex_);
      sent_.push_back({data[0], data[1], static_cast<std::uint16_t>(data[2] << 8 | data[3])});
    });
    StartDevice({"--address", "5", "--address", "3"});  // device_ is the last: 3
  }

  // A device object for the other device on the same bus and master.
  std::unique_ptr<TKtrDevice> Other(std::uint8_t address) {
    auto other = std::make_unique<TKtrDevice>(modbus_, nullptr, nullptr);
    SerialSettings s = device_->Settings();
    s.slaveAddress = address;
    other->SetSettings(s);
    return other;
  }

  std::vector<Sent> TakeWrites() {
    std::lock_guard<std::mutex> lock(traceMutex_);
    std::vector<Sent> writes;
    for (const Sent& s : sent_) {
      if (s.function == 6 || s.function == 16) writes.push_back(s);
    }
    sent_.clear();
    return writes;
  }

  DeviceConfiguration Backup(TKtrDevice& device) {
    const BackupResult b = BackupDevice(device);
    EXPECT_EQ(b.error, "");
    return b.configuration;
  }

 private:
  std::mutex traceMutex_;
  std::vector<Sent> sent_;
};

TEST_F(ConfigRestoreTest, CloneIntoASecondDeviceGivesTheSameDocumentExceptIdentity) {
  // Device 3 set up unlike the factory state in every kind of block.
  WriteSim(reg::kDisplay.start, {12, 4});
  WriteSim(reg::kCounter.start + 3, {45});
  WriteSim(reg::kTimeZone, {2});
  WriteSim(reg::kS1un, {1});
  WriteSim(reg::kBrightness.start + 1, {3});
  WriteSim(reg::ScheduleDay(0).start, {1, 1, 0x0800, 7});                 // Sunday on, plan[0]
  WriteSim(reg::ScheduleDay(6).start + reg::LengthOffset(4), {9, 8, 7});  // Saturday cfg[4]
  WriteSim(reg::kConfigStatus, {kCommandValue});                          // run configuration
  const DeviceConfiguration source = Backup(*device_);
  TakeWrites();

  const auto target = Other(5);
  std::vector<std::string> shown;
  RestoreOptions options;
  options.differences = [&shown](const RestoreReport& r) {
    for (const ChangeResult& c : r.changes)
      shown.push_back(c.change.name + ": " + c.change.from + " -> " + c.change.to);
  };
  const RestoreReport report = RestoreDevice(*target, source, options);
  EXPECT_TRUE(report.Ok()) << report.error << report.refused << report.stopped << report.verifyError;
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "display.tmpe: 10 -> 12",
                       "display.dtpe: 3 -> 4",
                       "counter.lm_m: 30 -> 45",
                       "time.tz: 1 -> 2",
                       "settings.blvl: 8 -> 3",
                       "settings.s1un: 0 -> 1",
                       "schedule.sun.ena: 0 -> 1",
                       "schedule.sun plan row 1: status 0 time 00:00 len 1 -> status 1 time 08:00 len 7",
                       "schedule.sat length row 5: len_bb 0 len_eb 0 len_ws 0 -> len_bb 8 len_eb 7 len_ws 9",
                       "config_status.value: 0 -> 1 (Apply configuration)",
                   }));
  EXPECT_EQ(report.Count(ChangeOutcome::kWritten), 10U);
  EXPECT_EQ(report.Verified(), 10U);

  // The endpoints' requests, to device 5 only, one per difference; never
  // its address setting or its clock.
  std::vector<std::string> writes;
  for (const Sent& s : TakeWrites()) {
    EXPECT_EQ(s.address, 5);
    writes.push_back(std::to_string(s.function) + " " + std::to_string(s.start));
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"6 10000", "6 10001", "6 10043", "6 10026", "6 10301",
                                              "6 10062", "6 14000", "16 14001", "16 14673", "6 10080"}));

  DeviceConfiguration clone = Backup(*target);
  EXPECT_EQ(clone.address, 5);
  EXPECT_EQ(clone.settings[SettingIndex(reg::kDiad)], 5);
  clone.address = source.address;
  clone.taken = source.taken;
  clone.settings[SettingIndex(reg::kDiad)] = source.settings[SettingIndex(reg::kDiad)];
  EXPECT_EQ(ConfigurationJson(clone), ConfigurationJson(source));

  // Restoring again finds nothing to do.
  const RestoreReport again = RestoreDevice(*target, source, {});
  EXPECT_TRUE(again.Ok());
  EXPECT_TRUE(again.changes.empty());
  EXPECT_TRUE(TakeWrites().empty());
}

TEST_F(ConfigRestoreTest, ADeviceThatStopsAnsweringLeavesAReportAndNothingIsRetried) {
  DeviceConfiguration file = Backup(*device_);
  for (std::uint16_t& v : file.display) v = static_cast<std::uint16_t>(v + 1);  // six writes
  TakeWrites();
  TakeLog();

  RestoreOptions options;
  options.progress = [this](std::size_t done, std::size_t) {
    if (done == 2) sim_->Stop();  // the device goes silent after two writes
  };
  const RestoreReport report = RestoreDevice(*device_, file, options);
  EXPECT_FALSE(report.Ok());
  ASSERT_EQ(report.changes.size(), 6U);
  EXPECT_EQ(report.changes[0].outcome, ChangeOutcome::kWritten);
  EXPECT_EQ(report.changes[1].outcome, ChangeOutcome::kWritten);
  EXPECT_EQ(report.changes[2].outcome, ChangeOutcome::kFailed);
  for (std::size_t i = 3; i < 6; ++i) EXPECT_EQ(report.changes[i].outcome, ChangeOutcome::kNotWritten) << i;
  EXPECT_EQ(report.stopped.rfind("display.cdpe: -", 0), 0U) << report.stopped;
  EXPECT_EQ(report.Verified(), 0U);  // a silent device is not read back
  // The one that failed is not sent again (a write the closed line took
  // no byte of is not in the trace), and nothing after it is sent.
  std::vector<std::uint16_t> starts;
  for (const Sent& s : TakeWrites()) starts.push_back(s.start);
  ASSERT_GE(starts.size(), 2U);
  EXPECT_LE(starts.size(), 3U);
  EXPECT_EQ(starts[0], 10000);
  EXPECT_EQ(starts[1], 10001);
  if (starts.size() == 3) {
    EXPECT_EQ(starts[2], 10002);
  }
}

TEST_F(ConfigRestoreTest, OtherFirmwareIsRefusedUnlessForced) {
  DeviceConfiguration file = Backup(*device_);
  file.firmwareVersion = PackVersion(defaults::kVersionOld);
  file.display[0] = static_cast<std::uint16_t>(file.display[0] + 1);
  TakeWrites();

  const RestoreReport refused = RestoreDevice(*device_, file, {});
  EXPECT_FALSE(refused.Ok());
  EXPECT_EQ(refused.refused,
            "firmware \"KTR Clock fw 0.35.4\" 0.35.4, the file's is \"KTR Clock fw 0.35.4\" 0.35.3 (--force "
            "writes anyway)");
  EXPECT_TRUE(TakeWrites().empty());

  RestoreOptions force;
  force.force = true;
  const RestoreReport forced = RestoreDevice(*device_, file, force);
  EXPECT_TRUE(forced.Ok());
  EXPECT_EQ(forced.Verified(), 1U);
  EXPECT_EQ(TakeWrites().size(), 1U);
}

}  // namespace
}  // namespace ktr::test
