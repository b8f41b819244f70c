// Every device endpoint against every reply fault of ktr-sim, through the
// real web server, master and serial line.
//
// One test per fault. A healthy simulator and a faulty one (`--fault MODE`)
// sit on one bus; the configurator first reads everything from the healthy
// one, then every endpoint is called while the faulty one answers, then the
// healthy one is switched back in. Under the fault each endpoint must:
// answer 200 with the JSON built from the register image (the last good
// values) or, for the writes, its usual answer; log exactly its lines; finish
// within its reads' time-outs; leave the device free for the next request
// (the next endpoint runs); and a write must put exactly the one asked frame
// on the line. After the fault, the first good requests return the healthy
// device's data: nothing the faulty device sent (surplus, late replies,
// noise) is taken for a reply.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "bus_fixture.h"
#include "write_checks.h"

namespace ktr::test {
namespace {

using namespace std::chrono_literals;

struct ReplyFault {
  const char* name;
  const char* mode;  // ktr-sim --fault
  bool readsPass;    // the master still gets every reply right (surplus, echo, noise, other frames)
  const char* kind;  // the X-Device-Status the replies carry under the fault
};

void PrintTo(const ReplyFault& fault, std::ostream* out) { *out << fault.mode; }

class ReplyFaults : public BusTest, public ::testing::WithParamInterface<ReplyFault> {
 protected:
  static std::map<std::string, EndpointCase> ByName() {
    std::map<std::string, EndpointCase> all;
    for (const EndpointCase& e : DeviceEndpoints()) all.emplace(e.name, e);
    return all;
  }

  Answer CallOk(const std::string& name) {
    const Answer a = Call(endpoints_.at(name));
    EXPECT_EQ(a.status, 200) << name;
    EXPECT_EQ(a.log, std::vector<std::string>{}) << name;
    EXPECT_EQ(a.deviceStatus, "ok") << name;
    return a;
  }

  // The reply an endpoint must give when none of its reads succeeds: the
  // image's content, which the warm-up replies show. The index reply's clock
  // is the one the time reply read last; the settings block is read with 19
  // registers, whose last two the reader presets to 1 before reading.
  std::string FromImage(const std::string& name) {
    if (name == "index") {
      const std::string time = warm_.at("time");
      return WithMember(WithMember(warm_.at("index"), "time", Member(time, "time")), "date",
                        DayFirst(Member(time, "date")));
    }
    if (name == "settings") return WithNumber(WithNumber(warm_.at("settings"), "s1rf", 1), "s2rf", 1);
    return warm_.at(name);
  }

  std::map<std::string, EndpointCase> endpoints_ = ByName();
  std::map<std::string, std::string> warm_;
};

TEST_P(ReplyFaults, EveryEndpointAnswersFromTheImageAndTheLineRecovers) {
  const ReplyFault fault = GetParam();
  const int healthy = StartSim({});
  const Registers healthyAtStart = RegisterSnapshot(DirectSettings(healthy));
  AttachSim(healthy);
  const int faulty = StartSim({"--fault", fault.mode});
  Registers faultyAtStart;
  if (fault.readsPass) faultyAtStart = RegisterSnapshot(DirectSettings(faulty));
  AttachSim(faulty);
  bus_.Route(healthy);
  StartConfigurator();

  // Good data first; the time read last, so the image holds its clock.
  for (const char* name : {"settings", "display", "counter", "sched_sun", "sched_mon", "sched_tue",
                           "sched_wed", "sched_thu", "sched_fri", "sched_sat", "config", "index", "time"}) {
    const Answer a = CallOk(name);
    ASSERT_FALSE(a.body.empty()) << name;
    warm_[name] = a.body;
  }
  ASSERT_EQ(warm_["config"], R"({"value":1})");

  // --- the fault ------------------------------------------------------------
  bus_.Route(faulty);
  for (const EndpointCase& e : DeviceEndpoints()) {
    SCOPED_TRACE(e.name);
    const Answer a = Call(e);
    EXPECT_EQ(a.status, 200);
    EXPECT_LE(a.ms, CycleBoundMs(e, kTimeoutMs)) << "longer than the time-outs of its requests";
    // The kind of the failure and, after a space, the block of the first request.
    EXPECT_EQ(a.deviceStatus.substr(0, a.deviceStatus.find(' ')), fault.kind);
    EXPECT_EQ(a.deviceStatus.find(" SET_") != std::string::npos, !fault.readsPass) << a.deviceStatus;
    if (e.name == "display" && !fault.readsPass) {
      EXPECT_EQ(a.deviceStatus, std::string(fault.kind) + " SET_10000_10005");
    }
    if (!e.writeFrame.empty()) {
      EXPECT_EQ(a.body, e.name == "run_config" ? "" : R"({"answer":"yes"})");
      EXPECT_EQ(a.log, std::vector<std::string>{});
    } else if (fault.readsPass) {
      EXPECT_EQ(WithoutClock(a.body), WithoutClock(warm_.at(e.name)));
      EXPECT_EQ(a.log, std::vector<std::string>{});
    } else {
      EXPECT_EQ(a.body, FromImage(e.name));
      EXPECT_EQ(a.log, e.readErrorLines);
    }
  }
  // The commands set the status to 0 whether or not they reached the
  // device; a device that answers reports its own again.
  EXPECT_EQ(Call(endpoints_.at("config")).body, fault.readsPass ? R"({"value":1})" : R"({"value":0})");

  // Each write put its one frame on the line, and nothing else was written.
  std::vector<std::string> asked;
  for (const EndpointCase& e : WriteEndpoints()) asked.push_back(ktr::test::ToHex(e.writeFrame));
  EXPECT_EQ(WriteFrames(bus_.Requests(faulty)), asked);

  // --- after the fault --------------------------------------------------------
  bus_.Route(healthy);
  // The faulty device's late replies and surplus are on the line by now.
  ASSERT_TRUE(bus_.WaitQuiet(faulty, 700ms, 30s));
  for (const EndpointCase& e : ReadEndpoints()) {
    SCOPED_TRACE("after the fault: " + e.name);
    const Answer a = CallOk(e.name);
    EXPECT_EQ(WithoutClock(a.body), WithoutClock(warm_.at(e.name)));
  }

  // The writes reach the healthy device and read back.
  CallOk("set_default");
  EXPECT_EQ(CallOk("config").body, R"({"value":0})");
  CallOk("run_config");
  EXPECT_EQ(CallOk("config").body, R"({"value":1})");
  CallOk("setdata");
  EXPECT_EQ(CallOk("display").body, WithNumber(warm_.at("display"), "tmpe", 7));
  CallOk("set_sched");
  std::string tuesday = warm_.at("sched_tue");
  const std::string before = R"({"status":1,"time":"08:00","len":5})";
  ASSERT_NE(tuesday.find(before), std::string::npos);
  tuesday.replace(tuesday.find(before), before.size(), R"({"status":1,"time":"07:30","len":4})");
  EXPECT_EQ(CallOk("sched_tue").body, tuesday);
  EXPECT_EQ(WriteFrames(bus_.Requests(healthy)), asked);

  // In the simulators' own registers: the healthy device holds exactly what
  // was asked of it (the factory defaults and the run command leave no
  // trace on a device that was in that state), and so does the faulty one
  // where it can still be read.
  const Registers askedChanges{{10000, 7}, {14205, 7 * 256 + 30}, {14206, 4}};
  bus_.Detach(healthy);
  EXPECT_EQ(Changed(healthyAtStart, RegisterSnapshot(DirectSettings(healthy))), askedChanges);
  if (fault.readsPass) {
    bus_.Detach(faulty);
    EXPECT_EQ(Changed(faultyAtStart, RegisterSnapshot(DirectSettings(faulty))), askedChanges);
  }
}

// A device that answers after the time-out: its reply must not be taken for
// the reply of the next request, even when that one asks for a block of the
// same length (every weekday is 76 registers). The schedule page asks for
// the days one after the other, so otherwise Monday would show Sunday's plan.
TEST_F(BusTest, ALateReplyIsNeverTakenForTheNextOne) {
  // A weekday block's reply deadline is the 200 ms time-out plus its wire
  // time at 19200 baud (165 characters, 95 ms). The reply comes 400 ms after
  // the request, about 105 ms after the configurator gave up on it: well
  // after the deadline, and well within the two time-outs in which the next
  // request to the device waits for a quiet line.
  bus_.Route(AddSim({"--fault", "slow=400"}));
  StartConfigurator();
  const auto reads = ReadEndpoints();
  // Before any good read the image holds zeros.
  std::string zeros = R"({"ena":0,"plan":[)";
  for (int i = 0; i < 20; ++i) zeros += std::string(i ? "," : "") + R"({"status":0,"time":"00:00","len":0})";
  zeros += R"(],"cfg":[)";
  for (int j = 0; j < 5; ++j) zeros += std::string(j ? "," : "") + R"({"len_bb":0,"len_eb":0,"len_ws":0})";
  zeros += "]}";
  for (int day = 0; day < 7; ++day) {
    const EndpointCase& e = reads.at(5 + static_cast<std::size_t>(day));
    ASSERT_EQ(e.name, std::string("sched_") + kDayNames[day]);
    const Answer a = Call(e);
    EXPECT_EQ(a.body, zeros) << e.name << " shows another day's reply";
    EXPECT_EQ(a.log, e.readErrorLines) << e.name;
  }
}

// The device search on the lines that defeated it: at 1200 baud a probe's
// request and reply take longer than its 100 ms time-out, and an echoing
// line returns every probe. The device sits at address 2, so one silent
// address (with its echo) comes first.
struct SearchLine {
  const char* name;
  std::vector<std::string> simArgs;
  std::int32_t baud;
};

void PrintTo(const SearchLine& line, std::ostream* out) { *out << line.name; }

class LineSearch : public ::testing::TestWithParam<SearchLine> {};

TEST_P(LineSearch, FindsTheDevice) {
  const SearchLine& line = GetParam();
  std::vector<std::string> args = line.simArgs;
  args.insert(args.end(), {"--address", "2"});
  ktr::test::SimProcess sim(args);
  TModbus modbus;
  std::mutex mutex;
  std::vector<std::string> log;
  TKtrDevice device(modbus,
                    [&](const std::string& text) {
                      std::lock_guard<std::mutex> lock(mutex);
                      log.push_back(text);
                    },
                    {});
  SerialSettings settings;
  settings.baudRate = line.baud;
  device.SetSettings(settings);
  EXPECT_TRUE(device.SearchDevice(sim.link(), {}));
  EXPECT_EQ(device.Settings().slaveAddress, 2);
  EXPECT_EQ(device.GetWebData(), R"({"firmware":"KTR Clock fw 0.35.4"})");
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(log,
            (std::vector<std::string>{"Search for connected device...", "Device found", "KTR Clock fw 0.35.4",
                                      "Press 'Start' button for setting device"}));
}

INSTANTIATE_TEST_SUITE_P(
    Sim, LineSearch,
    ::testing::Values(SearchLine{"At1200Baud", {"--wire", "1200"}, 1200},
                      SearchLine{"ThroughAnEchoingLine", {"--fault", "echo"}, 19200},
                      SearchLine{
                          "At1200BaudThroughAnEchoingLine", {"--fault", "echo", "--wire", "1200"}, 1200}),
    [](const ::testing::TestParamInfo<SearchLine>& p) { return std::string(p.param.name); });

// "slow" answers 150 ms after the configurator has given up waiting.
INSTANTIATE_TEST_SUITE_P(
    Sim, ReplyFaults,
    ::testing::Values(ReplyFault{"Silent", "silent", false, "no-reply"},
                      ReplyFault{"BadCrc", "bad-crc", false, "bad-reply"},
                      ReplyFault{"Exception1", "exception=1", false, "exception"},
                      ReplyFault{"Exception2", "exception=2", false, "exception"},
                      ReplyFault{"Exception3", "exception=3", false, "exception"},
                      ReplyFault{"Exception4", "exception=4", false, "exception"},
                      ReplyFault{"Exception11", "exception=11", false, "exception"},
                      ReplyFault{"Short", "short", false, "no-reply"}, ReplyFault{"Long", "long", true, "ok"},
                      ReplyFault{"SlowBeyondTimeout", "slow=350", false, "no-reply"},
                      ReplyFault{"Garbage", "garbage", false, "bad-reply"},
                      // Faults of the line: every reply is still found.
                      ReplyFault{"Echo", "echo", true, "ok"}, ReplyFault{"Noise", "noise", true, "ok"},
                      ReplyFault{"Foreign", "foreign", true, "ok"}),
    [](const ::testing::TestParamInfo<ReplyFault>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace ktr::test
