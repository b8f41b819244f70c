// The failure paths that every device endpoint shares, over the endpoint
// table, through the real web server, master and line:
// - PortMissing: a port that cannot be opened gives 200 with an empty body
//   and the two lines "Error open port !!!" and the reason; nothing goes on
//   the line and nothing changes (image, configuration status, address
//   list). Also for writes with a bad value or nothing to write: the port is
//   opened before a value is converted.
// - DeviceFails: a read the device refuses (exception 2, as for a register
//   it lacks) logs the endpoint's lines and answers the last good values; a
//   write nobody answers (no device at its address) gets the usual answer
//   and no line. Either way the
//   endpoint's exact frames, and nothing else, went on the line.
// The fault matrix (reply_faults_test, line_loss_test) puts the same table
// through every fault of the device and of the line.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bus_fixture.h"
#include "device_test_access.h"

namespace ktr::test {
namespace {

using Lists = std::vector<std::vector<std::string>>;

// Writes beside the table's: the date (the settings' function 16), the
// device address (the address list follows it) and the schedule's enable
// word (the schedule's function 6).
std::vector<EndpointCase> MoreWrites() {
  return {
      {"setdata_date",
       "GET",
       "/setdata.cgi?dt=2024-02-29",
       "",
       1,
       {},
       WriteMultipleFrame(1, 10020, {24, 2, 29}),
       {}},
      {"setdata_diad", "GET", "/setdata.cgi?diad=7", "", 1, {}, WriteSingleFrame(1, 10060, 7), {}},
      {"set_sched_enable",
       "POST",
       "/set_sched_data.cgi",
       "day=fri&ena=0",
       1,
       {},
       WriteSingleFrame(1, 14500, 0),
       {}},
  };
}

std::vector<EndpointCase> FailingCases() {
  std::vector<EndpointCase> all = DeviceEndpoints();
  for (EndpointCase& e : MoreWrites()) all.push_back(std::move(e));
  return all;
}

// Requests that never write, on a line that works: a value that is no
// integer (500) and a schedule request without an entry.
std::vector<EndpointCase> PortlessCases() {
  std::vector<EndpointCase> all = FailingCases();
  all.push_back({"setdata_bad_value", "GET", "/setdata.cgi?tmpe=abc", "", 1, {}, {}, {}});
  all.push_back({"set_sched_bad_value", "POST", "/set_sched_data.cgi", "day=thu&idx=x&ena=1", 1, {}, {}, {}});
  all.push_back({"set_sched_nothing", "POST", "/set_sched_data.cgi", "", 1, {}, {}, {}});
  return all;
}

// The configuration status read: 1 from a device of the fixture.
EndpointCase ConfigRead() {
  for (const EndpointCase& e : ReadEndpoints()) {
    if (e.name == "config") return e;
  }
  throw std::logic_error("no config read in the endpoint table");
}

std::vector<std::string> Hex(const std::vector<Bytes>& frames) {
  std::vector<std::string> hex;
  for (const Bytes& f : frames) hex.push_back(ToHex(f));
  return hex;
}

// A bus address where no device answers, and a table frame sent there.
constexpr std::uint8_t kNobody = 9;
Bytes ToNobody(Bytes frame) {
  frame.resize(frame.size() - 2);
  frame[0] = kNobody;
  return ktr::test::WithCrc(frame);
}

std::string CaseName(const ::testing::TestParamInfo<EndpointCase>& p) { return p.param.name; }

class PortMissing : public BusTest, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(PortMissing, AnswersEmptySendsNothingAndChangesNothing) {
  const EndpointCase& e = GetParam();
  const int device = AddSim({});
  bus_.Route(device);
  StartConfigurator();
  // The endpoint's own values and the configuration status (1) from the
  // device first.
  if (!e.readFrames.empty()) {
    ASSERT_EQ(Call(e).log, std::vector<std::string>{});
  }
  ASSERT_EQ(Call(ConfigRead()).body, R"({"value":1})");
  const auto image = device_->ImageCopy();
  ASSERT_EQ(test::DeviceTestAccess::Data(*device_).ConfigStatus, 1U);
  const std::size_t frames = bus_.Requests(device).size();
  TakeAddressLists();

  PointAtMissingPort();
  const Answer a = Call(e);
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "");
  EXPECT_EQ(a.deviceStatus, "port-error");
  EXPECT_EQ(a.log, ktr::test::kMissingPortLog);
  EXPECT_EQ(bus_.Requests(device).size(), frames) << "something went on the line";
  EXPECT_EQ(TakeAddressLists(), Lists{});
  EXPECT_EQ(device_->ImageCopy(), image);
  EXPECT_EQ(test::DeviceTestAccess::Data(*device_).ConfigStatus, 1U);
}

INSTANTIATE_TEST_SUITE_P(Table, PortMissing, ::testing::ValuesIn(PortlessCases()), CaseName);

class DeviceFails : public BusTest, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(DeviceFails, ReadsRepeatTheLastValuesAndWritesAreNotReported) {
  const EndpointCase& e = GetParam();
  const bool write = !e.writeFrame.empty();
  const int healthy = AddSim({});
  // A read goes to a device that refuses it; a write to a bus address where
  // nobody answers.
  const int failing = write ? healthy : AddSim({"--fault", "exception=2"});
  bus_.Route(healthy);
  StartConfigurator();

  // Good data in the image first. Before a write, one read: the line is then
  // known not to echo, and the write is the cycle's only request.
  const Answer good = Call(write ? ConfigRead() : e);
  ASSERT_EQ(good.status, 200);
  ASSERT_EQ(good.log, std::vector<std::string>{});
  TakeAddressLists();

  const std::size_t before = bus_.Requests(failing).size();
  if (write) {
    SerialSettings s = device_->Settings();
    s.slaveAddress = kNobody;
    device_->SetSettings(s);
  } else {
    bus_.Route(failing);
  }
  const Answer a = Call(e);
  auto frames = bus_.Requests(failing);
  frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(before));
  EXPECT_EQ(a.status, 200);
  if (write) {
    EXPECT_EQ(a.body, e.name == "run_config" ? "" : R"({"answer":"yes"})");
    EXPECT_EQ(a.log, std::vector<std::string>{});
    EXPECT_EQ(Hex(frames), Hex({ToNobody(e.writeFrame)}));
    // The factory defaults and the device address reset the window's list
    // whether or not the device took the write.
    const Lists lists = e.name == "set_default"    ? Lists{{"1"}}
                        : e.name == "setdata_diad" ? Lists{{"7"}}
                                                   : Lists{};
    EXPECT_EQ(TakeAddressLists(), lists);
  } else {
    // The reader presets the two rf settings to 1 before their block's read,
    // so a failed read leaves 1 in both.
    const std::string image =
        e.name == "settings" ? WithNumber(WithNumber(good.body, "s1rf", 1), "s2rf", 1) : good.body;
    EXPECT_EQ(a.body, image);
    EXPECT_EQ(a.log, e.readErrorLines);
    EXPECT_EQ(Hex(frames), Hex(e.readFrames));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DeviceFails, ::testing::ValuesIn(FailingCases()), CaseName);

}  // namespace
}  // namespace ktr::test
