// ktr-sim's register map as a Modbus client sees it: the firmware
// registers, the factory values of every block, reads outside the map,
// writes and the two command registers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ktr_register_map.h"
#include "sim_process.h"
#include "sim_wire.h"

namespace ktr::test {
namespace {

// Text of the firmware registers: two characters per register, high byte
// first, ending at the first zero byte.
std::string TextOf(const Words& words) {
  std::string text;
  for (std::uint16_t w : words) {
    for (int shift : {8, 0}) {
      const char c = static_cast<char>((w >> shift) & 0xFF);
      if (c == '\0') return text;
      text += c;
    }
  }
  return text;
}

// --- Firmware text and version, per firmware generation -------------------

struct FirmwareCase {
  const char* name;  // also the --firmware value
  ktr::Firmware firmware;
  const char* text;
  Words version;  // empty: version registers absent
  friend void PrintTo(const FirmwareCase& c, std::ostream* os) { *os << c.name; }
};

class FirmwareTest : public testing::TestWithParam<FirmwareCase> {};

TEST_P(FirmwareTest, SearchRegistersGiveTextAndVersion) {
  const FirmwareCase& c = GetParam();
  SimProcess sim({"--firmware", c.name});
  ModbusClient client(sim.link(), 1);

  Words count;
  ASSERT_EQ(client.Read(ktr::reg::kFirmwareTextLength, 1, count), 0);
  EXPECT_EQ(count[0], (std::string_view(c.text).size() + 1) / 2);
  Words text;
  ASSERT_EQ(client.Read(ktr::reg::kFirmwareText.start, count[0], text), 0);
  EXPECT_EQ(TextOf(text), c.text);

  Words version;
  if (c.version.empty()) {
    EXPECT_EQ(client.Read(ktr::reg::kVersion.start, 3, version), EMBXILADD);
  } else {
    ASSERT_EQ(client.Read(ktr::reg::kVersion.start, 3, version), 0);
    EXPECT_EQ(version, c.version);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Generations, FirmwareTest,
    testing::Values(FirmwareCase{"new", ktr::Firmware::kNew, "KTR Clock fw 0.35.4", {0x0030, 0x3335, 0x0034}},
                    FirmwareCase{"old", ktr::Firmware::kOld, "KTR Clock fw 0.35.3", {0x0030, 0x3335, 0x0033}},
                    FirmwareCase{"none", ktr::Firmware::kNone, "KTR Clock fw 0.34.1", {}}),
    CaseName());

TEST(RegisterMap, VersionRegistersPackTo0x2304) {
  // The configurator turns 5000-5002 into a packed version; 0.35.4 is the
  // boundary of the 19-register settings block.
  const auto part = [](std::uint16_t r) {
    const int high = r >> 8;
    return (high == 0 ? 0 : (high - '0') * 10) + ((r & 0xFF) - '0');
  };
  const std::uint32_t packed = (static_cast<std::uint32_t>(part(ktr::VersionRegister(0))) << 16) |
                               (static_cast<std::uint32_t>(part(ktr::VersionRegister(35))) << 8) |
                               static_cast<std::uint32_t>(part(ktr::VersionRegister(4)));
  EXPECT_EQ(packed, 0x2304u);
  EXPECT_EQ(ktr::PackVersion(ktr::defaults::kVersionNew), 0x2304u);
}

// --- Every block the configurator reads ----------------------------------

struct BlockCase {
  const char* name;
  ktr::RegisterBlock block;
  friend void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }
};

class DefaultBlockTest : public testing::TestWithParam<BlockCase> {};

TEST_P(DefaultBlockTest, ReadsFactoryValues) {
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  Words values;
  ASSERT_EQ(client.Read(GetParam().block.start, GetParam().block.count, values), 0);
  EXPECT_EQ(values, DefaultWords(ktr::Firmware::kNew, GetParam().block));
}

INSTANTIATE_TEST_SUITE_P(Blocks, DefaultBlockTest,
                         testing::Values(BlockCase{"Sensors", ktr::reg::kSensors},
                                         BlockCase{"AbsoluteHumidity", ktr::reg::kAbsoluteHumidity},
                                         BlockCase{"Display", ktr::reg::kDisplay},
                                         BlockCase{"Counter", ktr::reg::kCounter},
                                         BlockCase{"Settings", ktr::reg::kSettings},
                                         BlockCase{"ConfigStatus", {ktr::reg::kConfigStatus, 1}},
                                         BlockCase{"Poll", {ktr::reg::kPoll, 1}},
                                         BlockCase{"DeviceListCount", {ktr::reg::kDeviceListCount, 1}},
                                         BlockCase{"DeviceList", {ktr::reg::kDeviceList.start, 125}},
                                         BlockCase{"Brightness", ktr::reg::kBrightness},
                                         BlockCase{"Sunday", ktr::reg::ScheduleDay(0)},
                                         BlockCase{"Monday", ktr::reg::ScheduleDay(1)},
                                         BlockCase{"Saturday", ktr::reg::ScheduleDay(6)}),
                         CaseName());

// The map is usable at compile time, without the simulator.
static_assert(ktr::DefaultValue(ktr::Firmware::kNew, ktr::reg::kFirmwareTextLength) == 10);
static_assert(ktr::DefaultValue(ktr::Firmware::kNew, ktr::reg::kVersion.start + 1) == 0x3335);
static_assert(!ktr::DefaultValue(ktr::Firmware::kNone, ktr::reg::kVersion.start).has_value());
static_assert(ktr::TriggeredFault(ktr::trigger::kSlow).value == ktr::trigger::kSlowMs);

TEST(RegisterMap, DefaultsArePlausible) {
  // What the configurator's pages will show from a fresh simulator.
  EXPECT_EQ(ktr::DefaultValue(ktr::Firmware::kNew, ktr::reg::kDiad), 1);
  EXPECT_EQ(ktr::DefaultValue(ktr::Firmware::kNew, ktr::reg::kDeviceListCount), 0x0300);
  EXPECT_EQ(ktr::DefaultValue(ktr::Firmware::kNew, ktr::reg::kTemperature.start), 215);
  // Monday, plan entry 1 at 08:00, status 1, length 5.
  const auto monday = ktr::defaults::ScheduleDay(1);
  EXPECT_EQ(monday[0], 1);
  EXPECT_EQ(monday[ktr::reg::PlanOffset(1)], 1);
  EXPECT_EQ(monday[ktr::reg::PlanOffset(1) + 1], 8 << 8);
  EXPECT_EQ(monday[ktr::reg::PlanOffset(1) + 2], 5);
  // An unused entry in the configurator's empty form: 0, 0, 1.
  EXPECT_EQ(monday[ktr::reg::PlanOffset(19)], 0);
  EXPECT_EQ(monday[ktr::reg::PlanOffset(19) + 2], 1);
  EXPECT_FALSE(ktr::InMap(ktr::Firmware::kOld, ktr::reg::kS1rf));
  EXPECT_FALSE(ktr::InMap(ktr::Firmware::kNone, ktr::reg::kVersion.start));
}

// --- Reads outside the map -------------------------------------------------

struct OutsideCase {
  const char* name;
  const char* firmware;
  std::uint16_t start;
  std::uint16_t count;
  friend void PrintTo(const OutsideCase& c, std::ostream* os) { *os << c.name; }
};

class OutsideMapTest : public testing::TestWithParam<OutsideCase> {};

TEST_P(OutsideMapTest, ReadGetsIllegalDataAddress) {
  const OutsideCase& c = GetParam();
  SimProcess sim({"--firmware", c.firmware});
  ModbusClient client(sim.link(), 1);
  Words values;
  EXPECT_EQ(client.Read(c.start, c.count, values), EMBXILADD);
  // The device keeps answering after the exception.
  EXPECT_EQ(client.Read(ktr::reg::kFirmwareTextLength, 1, values), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, OutsideMapTest,
    testing::Values(OutsideCase{"Register20", "new", 20, 1}, OutsideCase{"SensorsPlusOne", "new", 0, 21},
                    OutsideCase{"Gap10081", "new", 10080, 2}, OutsideCase{"AfterDisplay", "new", 10006, 1},
                    OutsideCase{"AfterSchedule", "new", 14076, 1}, OutsideCase{"Top", "new", 65535, 1},
                    OutsideCase{"LongSettingsOnOld", "old", 10060, 19},
                    OutsideCase{"VersionOnNone", "none", 5000, 3}),
    CaseName());

TEST(RegisterMap, ShortSettingsBlockOnOldFirmware) {
  SimProcess sim({"--firmware", "old"});
  ModbusClient client(sim.link(), 1);
  Words values;
  ASSERT_EQ(client.Read(10060, 17, values), 0);
  EXPECT_EQ(values, DefaultWords(ktr::Firmware::kOld, ktr::reg::kSettingsShort));
}

// --- Writes ---------------------------------------------------------------

struct WriteCase {
  const char* name;
  bool multiple;  // function 16, else 6
  std::uint16_t start;
  Words values;
  friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
};

class WriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteTest, ReadsBackWhatWasWritten) {
  const WriteCase& c = GetParam();
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  const int rc =
      c.multiple ? client.WriteMultiple(c.start, c.values) : client.WriteSingle(c.start, c.values[0]);
  ASSERT_EQ(rc, 0);
  Words back;
  ASSERT_EQ(client.Read(c.start, static_cast<std::uint16_t>(c.values.size()), back), 0);
  EXPECT_EQ(back, c.values);
}

INSTANTIATE_TEST_SUITE_P(Registers, WriteTest,
                         testing::Values(WriteCase{"DisplaySingle", false, 10000, {5}},
                                         WriteCase{"TimeZoneMinusTwo", false, ktr::reg::kTimeZone, {65534}},
                                         WriteCase{"SensorValue", false, 0, {0xFFFF}},
                                         WriteCase{"MondayPlanEntry2", true, 14107, {1, 7 * 256 + 30, 5}},
                                         WriteCase{"WednesdayLengths4", true, 14373, {30, 10, 20}},
                                         WriteCase{"FirmwareTextABC", true, 8000, {2, 0x4142, 0x4300}},
                                         WriteCase{"DeviceList", true, 10100, {0x0100, 0x05FF}}),
                         CaseName());

struct RefusedCase {
  const char* name;
  std::uint16_t start;
  Words values;
  int error;
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class RefusedWriteTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedWriteTest, ChangesNothing) {
  const RefusedCase& c = GetParam();
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  Words clock_before;
  ASSERT_EQ(client.Read(ktr::reg::kClock.start, 6, clock_before), 0);
  Words status_before;
  ASSERT_EQ(client.Read(ktr::reg::kConfigStatus, 1, status_before), 0);

  EXPECT_EQ(client.WriteMultiple(c.start, c.values), c.error);

  Words clock_after;
  ASSERT_EQ(client.Read(ktr::reg::kClock.start, 6, clock_after), 0);
  Words status_after;
  ASSERT_EQ(client.Read(ktr::reg::kConfigStatus, 1, status_after), 0);
  EXPECT_EQ(status_after, status_before);
  // The clock only ran on: no jump, generous bound for a slow machine.
  const std::int64_t ran = ClockSeconds(clock_after) - ClockSeconds(clock_before);
  EXPECT_GE(ran, 0);
  EXPECT_LE(ran, 60);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedWriteTest,
    testing::Values(RefusedCase{"RunConfigOtherValue", ktr::reg::kConfigStatus, {1}, EMBXILVAL},
                    RefusedCase{"FactoryDefaultsOtherValue", ktr::reg::kFactoryDefaults, {0x5554}, EMBXILVAL},
                    RefusedCase{"Month13", ktr::reg::kDate.start, {24, 13, 1}, EMBXILVAL},
                    RefusedCase{"February30", ktr::reg::kDate.start, {24, 2, 30}, EMBXILVAL},
                    RefusedCase{"February29In2023", ktr::reg::kDate.start, {23, 2, 29}, EMBXILVAL},
                    RefusedCase{"Hour24", ktr::reg::kTime.start, {24, 0, 0}, EMBXILVAL},
                    RefusedCase{"Minute100", ktr::reg::kTime.start, {8, 100, 0}, EMBXILVAL},
                    RefusedCase{"AcrossGap", 10080, {0x5555, 0}, EMBXILADD},
                    RefusedCase{"OutsideMap", 10010, {1}, EMBXILADD}),
    CaseName());

// --- Command registers ----------------------------------------------------

TEST(Commands, RunConfigurationChangesStatus) {
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  Words status;
  ASSERT_EQ(client.Read(ktr::reg::kConfigStatus, 1, status), 0);
  EXPECT_EQ(status[0], ktr::kConfigFactory);
  ASSERT_EQ(client.WriteSingle(ktr::reg::kConfigStatus, ktr::kCommandValue), 0);
  ASSERT_EQ(client.Read(ktr::reg::kConfigStatus, 1, status), 0);
  EXPECT_EQ(status[0], ktr::kConfigRunning);
}

TEST(Commands, FactoryDefaultsRestoreTheDefaultMap) {
  SimProcess sim({"--address", "1"});
  ModbusClient client(sim.link(), 1);
  ASSERT_EQ(client.WriteSingle(10000, 99), 0);
  ASSERT_EQ(client.WriteMultiple(14107, {0, 0, 1}), 0);
  ASSERT_EQ(client.WriteSingle(ktr::reg::kTimeZone, 65534), 0);
  ASSERT_EQ(client.WriteSingle(ktr::reg::kConfigStatus, ktr::kCommandValue), 0);

  ASSERT_EQ(client.WriteSingle(ktr::reg::kFactoryDefaults, ktr::kCommandValue), 0);

  Words values;
  for (ktr::RegisterBlock block :
       {ktr::reg::kDisplay, ktr::reg::ScheduleDay(1), ktr::reg::kSettings,
        ktr::RegisterBlock{ktr::reg::kTimeZone, 2}, ktr::RegisterBlock{ktr::reg::kConfigStatus, 1},
        ktr::RegisterBlock{ktr::reg::kFactoryDefaults, 1}}) {
    ASSERT_EQ(client.Read(block.start, block.count, values), 0) << block.start;
    EXPECT_EQ(values, DefaultWords(ktr::Firmware::kNew, block)) << block.start;
  }
}

TEST(Commands, AddressSettingHoldsBusAddressUntilFactoryDefaults) {
  SimProcess sim({"--address", "9"});
  ModbusClient client(sim.link(), 9);
  Words diad;
  ASSERT_EQ(client.Read(ktr::reg::kDiad, 1, diad), 0);
  EXPECT_EQ(diad[0], 9);
  ASSERT_EQ(client.WriteSingle(ktr::reg::kFactoryDefaults, ktr::kCommandValue), 0);
  ASSERT_EQ(client.Read(ktr::reg::kDiad, 1, diad), 0);  // still answering on 9
  EXPECT_EQ(diad[0], ktr::defaults::kAddress);
}

}  // namespace
}  // namespace ktr::test
