// /set_sched_data.cgi: one enable word, plan entry or length entry per
// request, checked on ktr-sim's registers (the target and every neighbour)
// and as exact request frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_fixture.h"
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

constexpr const char* kYes = R"({"answer":"yes"})";
constexpr const char* kNo = R"({"answer":"no"})";

constexpr std::uint16_t Time(int hour, int minute) { return static_cast<std::uint16_t>(hour * 256 + minute); }

struct WriteCase {
  std::string text;
  Registers writes;
};

const WriteCase kWrites[] = {
    {"day=mon&idx=2&tp_status=1&tp_time=07:30&tp_len=5", Span(14107, {1, 1822, 5})},
    // Status 0: time 0 and length 1, whatever the request gave.
    {"day=sat&idx=0&tp_status=0&tp_time=07:30&tp_len=5", Span(14601, {0, 0, 1})},
    {"day=mon&idx=0&tp_status=0", Span(14101, {0, 0, 1})},
    {"day=mon&idx=2&tp_status=65536&tp_time=07:30&tp_len=5", Span(14107, {0, 0, 1})},  // low 16 bits are 0
    // An empty time is stored as minute 60 of hour 0.
    {"day=tue&idx=1&tp_status=1&tp_time=&tp_len=3", Span(14204, {1, 60, 3})},
    {"day=mon&idx=19&tp_status=3&tp_time=23:59&tp_len=9", Span(14158, {3, Time(23, 59), 9})},
    {"day=mon&idx=2&tp_status=-1&tp_time=99:99&tp_len=0x10", Span(14107, {65535, Time(99, 99), 16})},
    {"tp_len=5&tp_time=07:30&idx=2&day=mon&tp_status=1", Span(14107, {1, 1822, 5})},
    // Length entries: registers ws, bb, eb whatever the field order.
    {"day=wed&idx=4&s_len_bb=10&s_len_eb=20&s_len_ws=30", Span(14373, {30, 10, 20})},
    {"day=thu&idx=0&s_len_ws=1&s_len_bb=2&s_len_eb=3", Span(14461, {1, 2, 3})},
    // The enable word.
    {"day=fri&ena=1", Span(14500, {1})},
    {"day=sat&ena=1&", Span(14600, {1})},
    {"ena=1", Span(14000, {1})},
    {"day=Mon&ena=1", Span(14000, {1})},  // names are lower case: Sunday stays addressed
    {"day=xyz&ena=1", Span(14000, {1})},
    {"ab&day=mon&ena=1", Span(14000, {1})},  // the key is "ab&day"
    {"foo=bar&day=sat&ena=1", Span(14600, {1})},
    // Each "day" adds its offset once more.
    {"day=sun&day=mon&ena=5", Span(14100, {5})},
    {"day=mon&day=tue&ena=5", Span(14300, {5})},
    // The last entry key decides what is written; later fields overwrite.
    {"day=mon&idx=1&tp_status=1&tp_time=07:30&tp_len=5&ena=9", Span(14100, {9})},
    {"day=mon&ena=9&idx=1&tp_status=1&tp_time=07:30&tp_len=5", Span(14104, {1, 1822, 5})},
    {"day=mon&idx=1&idx=3&tp_status=1&tp_status=2&tp_time=07:30&tp_len=5", Span(14110, {2, 1822, 5})},
};

// Requests that write nothing: no entry key at all answers "yes"; an entry
// that cannot be written as asked answers "no".
const struct {
  std::string text;
  const char* answer;
} kNoWrites[] = {
    {"day=thu&idx=1", kYes},
    {"", kYes},
    {"day=mon", kYes},
    {"idx=3&foo=1", kYes},
    {"=5&ena=1", kYes},                                          // the walk ends at the empty first key
    {"day=mon&tp_status=1&tp_time=07:30&tp_len=5", kNo},         // no index
    {"day=mon&idx=2&tp_status=1&tp_len=5", kNo},                 // no time
    {"day=mon&idx=2&tp_status=1&tp_time=07:30", kNo},            // no length
    {"day=mon&idx=2&tp_time=07:30&tp_len=5", kNo},               // no status
    {"day=mon&idx=20&tp_status=1&tp_time=07:30&tp_len=5", kNo},  // would reach the length entries
    {"day=mon&idx=-1&tp_status=0", kNo},
    {"day=mon&idx=2&tp_status=0&idx=20", kNo},
    {"day=wed&idx=5&s_len_bb=1&s_len_eb=2&s_len_ws=3", kNo},  // past the day's block
    {"day=wed&idx=4&s_len_bb=1&s_len_eb=2", kNo},
    {"day=wed&s_len_bb=1&s_len_eb=2&s_len_ws=3", kNo},
    // A length write takes only the length fields' values.
    {"day=mon&idx=1&tp_status=1&tp_time=07:30&tp_len=5&s_len_ws=3", kNo},
    // Two days add up beyond Saturday's block.
    {"day=sat&day=mon&ena=1", kNo},
    {"day=sat&day=sat&idx=0&tp_status=0", kNo},
};

const struct {
  std::string text, failed;
} kBadValues[] = {
    {"day=thu&idx=x&ena=1", "x"},
    {"day=mon&idx=1&tp_status=1&tp_time=12%3A30&tp_len=5", "3A"},
    {"day=mon&idx=1&tp_status=1&tp_time=7:30&tp_len=5", "7:"},
    {"day=mon&idx=1&tp_status=1&tp_time=07&tp_len=5", ""},
    {"day=mon&idx=1&tp_status=1&tp_time=07:30&tp_len=5&idx=y", "y"},  // after all values
    {"day=mon&ena=", ""},
    {"day=mon&ena=1 ", "1 "},
    {"day=sat&day=sat&ena=z", "z"},
    {"idx=99999999999&ena=1", "99999999999"},
};

class ScheduleWriteTest : public DeviceTest {
 protected:
  Registers Snapshot() { return RegisterSnapshot(device_->Settings()); }
};

TEST_F(ScheduleWriteTest, WritesExactlyTheAddressedRegisters) {
  for (const WriteCase& c : kWrites) {
    SCOPED_TRACE("text: " + c.text);
    // Start from values that the write must change.
    for (const auto& [address, value] : c.writes) {
      WriteSim(address, {static_cast<std::uint16_t>(value ^ 0x0100)});
    }
    const Registers before = Snapshot();
    EXPECT_EQ(device_->SetSchedData(c.text), kYes);
    EXPECT_EQ(Changed(before, Snapshot()), c.writes);
  }
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(ScheduleWriteTest, RequestsThatWriteNothing) {
  for (const auto& c : kNoWrites) {
    SCOPED_TRACE("text: " + c.text);
    const Registers before = Snapshot();
    EXPECT_EQ(device_->SetSchedData(c.text), c.answer);
    EXPECT_EQ(Changed(before, Snapshot()), Registers{});
  }
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(ScheduleWriteTest, BadValuesWriteNothingAndTheNextRequestWorks) {
  std::uint16_t next = 10;
  for (const auto& c : kBadValues) {
    SCOPED_TRACE("text: " + c.text);
    const Registers before = Snapshot();
    try {
      device_->SetSchedData(c.text);
      ADD_FAILURE() << "no conversion error";
    } catch (const FieldConversionError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.failed + "' is not a valid integer value");
    }
    EXPECT_EQ(Changed(before, Snapshot()), Registers{});
    // The failed request closed the port and released the device.
    ++next;
    EXPECT_EQ(device_->SetSchedData("day=sun&ena=" + std::to_string(next)), kYes);
    EXPECT_EQ(ReadSim(14000, 1)[0], next);
  }
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(ScheduleWriteTest, TheScheduleReadShowsWhatWasWritten) {
  EXPECT_EQ(device_->SetSchedData("day=tue&idx=1&tp_status=1&tp_time=&tp_len=3"), kYes);
  EXPECT_EQ(device_->SetSchedData("day=tue&idx=2&tp_status=4&tp_time=08:30&tp_len=6"), kYes);
  EXPECT_EQ(device_->SetSchedData("day=tue&idx=3&s_len_ws=7&s_len_bb=8&s_len_eb=9"), kYes);
  EXPECT_EQ(device_->SetSchedData("day=tue&ena=0"), kYes);
  const std::string reply = device_->GetSchedData(2);
  EXPECT_NE(reply.find(R"({"ena":0,"plan":[)"), std::string::npos) << reply;
  EXPECT_NE(reply.find(R"({"status":1,"time":"00:60","len":3},{"status":4,"time":"08:30","len":6})"),
            std::string::npos)
      << reply;
  EXPECT_NE(reply.find(R"({"len_bb":8,"len_eb":9,"len_ws":7})"), std::string::npos) << reply;
}

TEST(ScheduleWriteFrames, EnableIsFunctionSixEntriesAreFunctionSixteen) {
  EchoBus bus;
  EXPECT_EQ(bus.device().SetSchedData("day=fri&ena=1"), kYes);
  EXPECT_EQ(bus.device().SetSchedData("day=mon&idx=2&tp_status=1&tp_time=07:30&tp_len=5"), kYes);
  EXPECT_EQ(bus.device().SetSchedData("day=wed&idx=4&s_len_bb=10&s_len_eb=20&s_len_ws=30"), kYes);
  EXPECT_EQ(bus.Frames(), (std::vector<std::string>{ToHex(WriteSingleFrame(1, 14500, 1)),
                                                    ToHex(WriteMultipleFrame(1, 14107, {1, 1822, 5})),
                                                    ToHex(WriteMultipleFrame(1, 14373, {30, 10, 20}))}));
}

TEST(ScheduleWriteFrames, RefusedAndFailedRequestsSendNothing) {
  EchoBus bus;
  for (const auto& c : kNoWrites) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(bus.device().SetSchedData(c.text), c.answer);
  }
  for (const auto& c : kBadValues) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_THROW(bus.device().SetSchedData(c.text), FieldConversionError);
  }
  EXPECT_TRUE(bus.Frames().empty());
  EXPECT_TRUE(bus.Log().empty());
}

}  // namespace
