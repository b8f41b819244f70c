// ktr-sim on the bus: function codes and counts as raw frames, broadcast,
// several devices on one line, and the port's open/close cycles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ktr_register_map.h"
#include "sim_process.h"
#include "sim_wire.h"

namespace ktr::test {
namespace {

// --- Function codes and counts (raw frames) ---------------------------------

TEST(Functions, InputRegistersShareTheMap) {
  SimProcess sim;
  ModbusClient client(sim.link(), 1);
  Words holding;
  Words input;
  ASSERT_EQ(client.Read(ktr::reg::kSensors.start, ktr::reg::kSensors.count, holding), 0);
  ASSERT_EQ(client.ReadInput(ktr::reg::kSensors.start, ktr::reg::kSensors.count, input), 0);
  EXPECT_EQ(holding, input);
}

struct RawCase {
  const char* name;
  Bytes request;
  Bytes reply;
  friend void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }
};

class RawRequestTest : public testing::TestWithParam<RawCase> {};

TEST_P(RawRequestTest, ReplyBytes) {
  SimProcess sim;
  RawLine line(sim.link());
  line.Write(GetParam().request);
  const Bytes got = line.ReadReply(GetParam().reply.size(), std::chrono::milliseconds(500));
  EXPECT_EQ(ToHex(got), ToHex(GetParam().reply));
}

Bytes FirmwareLengthReply() {
  return ReadReply(1, 3, {ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew)});
}

Words DeviceListDefaults(std::uint16_t count) {
  return DefaultWords(ktr::Firmware::kNew, {ktr::reg::kDeviceList.start, count});
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RawRequestTest,
    testing::Values(
        // The configurator's probe, byte for byte: 01 03 1F 40 00 01 82 0A.
        RawCase{"Probe8000", {0x01, 0x03, 0x1F, 0x40, 0x00, 0x01, 0x82, 0x0A}, FirmwareLengthReply()},
        RawCase{"ReadCoilsIsIllegalFunction", ReadRequestFrame(1, 1, 0, 8), WithCrc({0x01, 0x81, 0x01})},
        RawCase{"CountZero", ReadRequestFrame(1, 3, 0, 0), WithCrc({0x01, 0x83, 0x03})},
        RawCase{"Count129", ReadRequestFrame(1, 3, ktr::reg::kDeviceList.start, 129),
                WithCrc({0x01, 0x83, 0x03})},
        // 128 registers: the byte count wraps to 0, the data is all there.
        RawCase{"Count128", ReadRequestFrame(1, 3, ktr::reg::kDeviceList.start, 128),
                ReadReply(1, 3, DeviceListDefaults(128))},
        RawCase{"WriteEcho", WriteSingleFrame(1, 10000, 7), WriteSingleFrame(1, 10000, 7)},
        RawCase{"BadCrcIgnored", {0x01, 0x03, 0x1F, 0x40, 0x00, 0x01, 0x82, 0x0B}, {}},
        RawCase{"OtherAddressIgnored", ReadRequestFrame(2, 3, 8000, 1), {}},
        // Broadcast writes are carried out but never answered.
        RawCase{"BroadcastWriteUnanswered", WriteSingleFrame(0, 10000, 7), {}}),
    CaseName());

TEST(Functions, BroadcastWriteReachesEveryDevice) {
  SimProcess sim({"--address", "3", "--address", "7"});
  {
    RawLine line(sim.link());
    line.Write(WriteSingleFrame(0, 10000, 42));
    EXPECT_TRUE(line.ReadUntilQuiet(std::chrono::milliseconds(200)).empty());
  }
  ModbusClient client(sim.link(), 3);
  for (int address : {3, 7}) {
    client.SetSlave(address);
    Words value;
    ASSERT_EQ(client.Read(10000, 1, value), 0);
    EXPECT_EQ(value[0], 42) << address;
  }
}

// --- Several devices on one bus ---------------------------------------------

TEST(Bus, EachAddressIsItsOwnDevice) {
  SimProcess sim({"--address", "3", "--address", "7"});
  ModbusClient client(sim.link(), 3, std::chrono::milliseconds(300));
  ASSERT_EQ(client.WriteSingle(10000, 33), 0);
  client.SetSlave(7);
  ASSERT_EQ(client.WriteSingle(10000, 77), 0);

  // Alternate quickly: a server that mistook the next request for the
  // other device's reply would lose every second one.
  for (int round = 0; round < 20; ++round) {
    for (int address : {3, 7}) {
      client.SetSlave(address);
      Words values;
      ASSERT_EQ(client.Read(10000, 1, values), 0) << "round " << round << " address " << address;
      EXPECT_EQ(values[0], address == 3 ? 33 : 77);
      ASSERT_EQ(client.Read(ktr::reg::kDiad, 1, values), 0);
      EXPECT_EQ(values[0], address);
    }
  }
  client.SetSlave(5);
  Words values;
  EXPECT_EQ(client.Read(8000, 1, values), ETIMEDOUT);
  client.SetSlave(3);
  EXPECT_EQ(client.Read(8000, 1, values), 0);
}

// Where a device answers after its address setting is written, for each
// kind of device: the answering address after the write, after "Apply
// configuration", and after factory defaults.
TEST(Bus, ReaddressFollowsTheKindOfDevice) {
  struct Case {
    std::string readdress;
    int afterWrite, afterApply, afterDefaults;
  } const cases[] = {{"never", 1, 1, 1}, {"now", 9, 9, 1}, {"apply", 1, 9, 1}};
  for (const Case& c : cases) {
    SimProcess sim({"--address", "1", "--readdress", c.readdress});
    ModbusClient client(sim.link(), 1, std::chrono::milliseconds(300));
    const auto answering = [&client] {
      for (int a : {1, 9}) {
        client.SetSlave(a);
        Words values;
        if (client.Read(8000, 1, values) == 0) return a;
      }
      return 0;
    };
    ASSERT_EQ(client.WriteSingle(ktr::reg::kDiad, 9), 0) << c.readdress;
    EXPECT_EQ(answering(), c.afterWrite) << c.readdress;
    client.SetSlave(c.afterWrite);
    ASSERT_EQ(client.WriteSingle(ktr::reg::kConfigStatus, kCommandValue), 0) << c.readdress;
    EXPECT_EQ(answering(), c.afterApply) << c.readdress;
    client.SetSlave(c.afterApply);
    ASSERT_EQ(client.WriteSingle(ktr::reg::kFactoryDefaults, kCommandValue), 0) << c.readdress;
    EXPECT_EQ(answering(), c.afterDefaults) << c.readdress;
  }
}

TEST(Bus, PortSurvivesOpenCloseCycles) {
  // The configurator opens and closes the port around every access.
  SimProcess sim;
  for (int cycle = 0; cycle < 20; ++cycle) {
    ModbusClient client(sim.link(), 1);
    Words values;
    ASSERT_EQ(client.Read(8000, 1, values), 0) << "cycle " << cycle;
  }
}

}  // namespace
}  // namespace ktr::test
