// /setdata.cgi: each key writes its own register (and nothing else), read
// back from ktr-sim, with function 6 or 16 as the key requires.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "device_test_access.h"
#include "request_fields.h"
#include "write_checks.h"

namespace {

using ktr::FieldConversionError;
using ktr::test::Changed;
using ktr::test::DeviceTest;
using ktr::test::EchoBus;
using ktr::test::Registers;
using ktr::test::RegisterSnapshot;
using ktr::test::Span;
using ktr::test::ToHex;
using ktr::test::WriteMultipleFrame;
using ktr::test::WriteSingleFrame;
using Lists = std::vector<std::vector<std::string>>;

constexpr const char* kYes = R"({"answer":"yes"})";

// A setting held in one register: written with function 6.
struct SingleCase {
  std::string text;
  std::uint16_t reg;
  std::uint16_t value;
};

// Every single-register key, with values that differ from the simulator's
// defaults.
const SingleCase kSingleCases[] = {
    {"tmpe=5", 10000, 5},
    {"dtpe=6", 10001, 6},
    {"cdpe=7", 10002, 7},
    {"s1pe=8", 10003, 8},
    {"s2pe=9", 10004, 9},
    {"stpe=10", 10005, 10},
    {"t_zone=-2", 10026, 65534},
    {"dst=0", 10027, 0},
    {"cdir=1", 10040, 1},
    {"lm_d=2", 10041, 2},
    {"lm_h=3", 10042, 3},
    {"lm_m=4", 10043, 4},
    {"lm_s=5", 10044, 5},
    {"rlpe=6", 10045, 6},
    {"crpt=7", 10046, 7},
    {"bmod=2", 10300, 2},
    {"blvl=3", 10301, 3},
    {"bloc=3", 10302, 3},
    {"bgra=4", 10303, 4},
    {"diad=7", 10060, 7},
    {"poll=45", 10084, 45},
    {"s1ad=11", 10061, 11},
    {"s1un=3", 10062, 3},
    {"s1mo=2", 10063, 2},
    {"s1rf=12", 10077, 12},
    {"s2ad=13", 10068, 13},
    {"s2un=1", 10069, 1},
    {"s2mo=0", 10070, 0},
    {"s2rf=14", 10078, 14},
    {"sype=2", 10075, 2},
    {"stmo=3", 10076, 3},
    // The value's low 16 bits, whatever its notation.
    {"tmpe=-1", 10000, 65535},
    {"tmpe=70000", 10000, 4464},
    {"tmpe=0x10", 10000, 16},
    {"tmpe= 42", 10000, 42},
    {"tmpe=$FFFF", 10000, 65535},
    {"cdir=1&crpt=2", 10040, 1},
    {"bloc=3&", 10302, 3},
};

class SettingsWriteTest : public DeviceTest {
 protected:
  Registers Snapshot() { return RegisterSnapshot(device_->Settings()); }

  // Runs `text` and expects exactly `expected` to change on the simulator.
  void ExpectWrites(const std::string& text, const Registers& expected) {
    SCOPED_TRACE("text: " + text);
    const Registers before = Snapshot();
    EXPECT_EQ(device_->SetData(text), kYes);
    EXPECT_EQ(Changed(before, Snapshot()), expected);
    EXPECT_TRUE(TakeLog().empty());
  }

  // Runs `text`, expects the conversion error for `failed` and no change.
  void ExpectConversionError(const std::string& text, const std::string& failed) {
    SCOPED_TRACE("text: " + text);
    const Registers before = Snapshot();
    try {
      device_->SetData(text);
      ADD_FAILURE() << "no conversion error";
    } catch (const FieldConversionError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + failed + "' is not a valid integer value");
    }
    EXPECT_EQ(Changed(before, Snapshot()), Registers{});
  }
};

TEST_F(SettingsWriteTest, EachKeyWritesOnlyItsRegister) {
  for (const SingleCase& c : kSingleCases) {
    // Start from a value that the write must change.
    WriteSim(c.reg, {static_cast<std::uint16_t>(c.value ^ 0x0100)});
    ExpectWrites(c.text, Span(c.reg, {c.value}));
  }
}

TEST(SettingsWriteFrames, SingleKeysUseFunctionSix) {
  EchoBus bus;
  std::vector<std::string> expected;
  for (const SingleCase& c : kSingleCases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(bus.device().SetData(c.text), kYes);
    expected.push_back(ToHex(WriteSingleFrame(1, c.reg, c.value)));
  }
  EXPECT_EQ(bus.Frames(), expected);
  EXPECT_TRUE(bus.Log().empty());
}

TEST(SettingsWriteFrames, DateAndTimeAreOneMultipleWriteEach) {
  EchoBus bus;
  EXPECT_EQ(bus.device().SetData("dt=2024-02-29"), kYes);
  EXPECT_EQ(bus.device().SetData("tm=08:05:30"), kYes);
  EXPECT_EQ(bus.device().SetData("dt=1999x12y31"), kYes);  // separators are not looked at
  EXPECT_EQ(bus.device().SetData("tm=23:59:59&dt=2000-01-01"), kYes);
  EXPECT_EQ(bus.device().SetData("dt=2024-02-2"), kYes);  // a short last piece is what is there
  EXPECT_EQ(bus.Frames(), (std::vector<std::string>{ToHex(WriteMultipleFrame(1, 10020, {24, 2, 29})),
                                                    ToHex(WriteMultipleFrame(1, 10023, {8, 5, 30})),
                                                    ToHex(WriteMultipleFrame(1, 10020, {99, 12, 31})),
                                                    ToHex(WriteMultipleFrame(1, 10023, {23, 59, 59})),
                                                    ToHex(WriteMultipleFrame(1, 10020, {24, 2, 2}))}));
}

TEST_F(SettingsWriteTest, DateAndTimeSetTheDeviceClock) {
  const Registers before = Snapshot();
  // Noon first, so the date cannot roll over while the test reads it.
  EXPECT_EQ(device_->SetData("tm=12:00:00"), kYes);
  EXPECT_EQ(device_->SetData("dt=2024-02-29"), kYes);
  EXPECT_EQ(ReadSim(ktr::reg::kDate.start, 3), (std::vector<std::uint16_t>{24, 2, 29}));
  EXPECT_EQ(device_->SetData("tm=08:05:30"), kYes);
  const std::vector<std::uint16_t> clock = ReadSim(ktr::reg::kClock.start, 6);
  EXPECT_EQ(std::vector<std::uint16_t>(clock.begin(), clock.begin() + 5),
            (std::vector<std::uint16_t>{24, 2, 29, 8, 5}));
  EXPECT_GE(clock[5], 30);
  EXPECT_LE(clock[5], 40);  // the clock runs on; a generous bound
  EXPECT_EQ(Changed(before, Snapshot()), Registers{}) << "only the clock changed";

  const ktr::KTR_DATA data = ktr::test::DeviceTestAccess::Data(*device_);
  EXPECT_EQ(data.isoDateText, "2024-02-29");
  EXPECT_EQ(data.dateText, "29-02-2024");
  EXPECT_EQ(data.timeText, "08:05:30");
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(SettingsWriteTest, WrittenValuesAreKeptInTheDeviceData) {
  EXPECT_EQ(device_->SetData("tmpe=-1"), kYes);
  EXPECT_EQ(device_->SetData("t_zone=-2"), kYes);
  EXPECT_EQ(device_->SetData("lm_s=70000"), kYes);
  EXPECT_EQ(device_->SetData("s2rf=9"), kYes);
  const ktr::KTR_DATA data = ktr::test::DeviceTestAccess::Data(*device_);
  EXPECT_EQ(data.display[0], 65535U);
  EXPECT_EQ(data.tz, 65534U);
  EXPECT_EQ(data.counter[4], 4464U);
  EXPECT_EQ(data.s2rf, 9U);
}

TEST_F(SettingsWriteTest, UnknownKeysWriteNothing) {
  for (const char* text : {"tz=2", "", "TMPE=5", "tmpe", "=5", "foo=1&tmpe=5", "date=2024-02-29", "ab&tmpe=5",
                           " tmpe=5", "ena=1"}) {
    ExpectWrites(text, {});
  }
}

TEST(SettingsWriteFrames, UnknownKeysSendNothing) {
  EchoBus bus;
  EXPECT_EQ(bus.device().SetData("tz=2"), kYes);
  EXPECT_EQ(bus.device().SetData(""), kYes);
  EXPECT_THROW(bus.device().SetData("tm=12:30"), FieldConversionError);
  EXPECT_TRUE(bus.Frames().empty());
}

TEST_F(SettingsWriteTest, BadValuesWriteNothingAndTheNextRequestWorks) {
  const struct {
    std::string text, failed;
  } cases[] = {
      {"dt=24-02-29", ""},  // too short for the day piece at characters 9-10
      {"dt=2024-02", ""},  {"tm=12:30", ""},    {"tm=12%3A30:00", "3A"}, {"tm=", ""},
      {"tmpe=", ""},       {"tmpe=abc", "abc"}, {"tmpe=5 ", "5 "},       {"poll=2147483648", "2147483648"},
      {"diad=7x", "7x"},
  };
  std::uint16_t next = 200;
  for (const auto& c : cases) {
    ExpectConversionError(c.text, c.failed);
    // The failed request closed the port and released the device.
    ++next;
    ExpectWrites("tmpe=" + std::to_string(next), Span(10000, {next}));
  }
  EXPECT_TRUE(TakeAddressLists().empty());
}

TEST_F(SettingsWriteTest, DiadReplacesTheAddressList) {
  StartDevice({"--address", "3"});
  EXPECT_EQ(device_->SetData("diad=7"), kYes);
  EXPECT_EQ(ReadSim(ktr::reg::kDiad, 1)[0], 7);
  EXPECT_EQ(TakeAddressLists(), (Lists{{"7"}}));
  // Later requests still go to the address the search found.
  EXPECT_EQ(device_->Settings().slaveAddress, 3);
  ExpectWrites("tmpe=4", Span(10000, {4}));
  // The list shows the address as the register holds it.
  EXPECT_EQ(device_->SetData("diad=-1"), kYes);
  EXPECT_EQ(TakeAddressLists(), (Lists{{"65535"}}));
  EXPECT_EQ(ktr::test::DeviceTestAccess::Data(*device_).diad, 65535U);
  // No other key touches the list.
  EXPECT_EQ(device_->SetData("s1ad=7"), kYes);
  EXPECT_EQ(device_->SetData("poll=1"), kYes);
  EXPECT_TRUE(TakeAddressLists().empty());
}

TEST_F(SettingsWriteTest, ConcurrentRequestsAllArrive) {
  // Four connection threads at once, each writing its own register five
  // times: every request runs its cycle alone, so none fails and every final
  // value lands.
  const char* keys[] = {"tmpe", "cdir", "bgra", "s1ad"};
  const std::uint16_t regs[] = {10000, 10040, 10303, 10061};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(device_->SetData(std::string(keys[t]) + "=" + std::to_string(100 * t + i)), kYes);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(ReadSim(regs[t], 1)[0], 100 * t + 5) << keys[t];
  EXPECT_TRUE(TakeLog().empty());
}

}  // namespace
