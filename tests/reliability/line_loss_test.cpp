// Every device endpoint when the device or the line goes away in the middle
// of its cycle, through the real web server, master and serial line:
// - Killed: the simulator is killed (SIGKILL, by its PID) right after the
//   cycle's first request has left the configurator; the bus goes silent.
// - HungUp: the line's pty is closed at that moment (the USB adapter pulled
//   out); the configurator's open port fails and cannot be opened again.
// The endpoint must answer 200 with the JSON of the image (or its usual
// answer), log exactly its lines, finish within its requests' time-outs and
// leave the device free: the next request runs (and, with the line gone,
// answers empty after "Error open port !!!" and the reason); a line that went
// away mid-cycle logs why after the first failed block. Once a device or a line is
// back, the next request returns good data. A write sends its one frame and
// nothing else.
#include <gtest/gtest.h>

#include <signal.h>

#include <ostream>
#include <string>
#include <vector>

#include "bus_fixture.h"

namespace ktr::test {
namespace {

enum class Loss { kKilled, kHungUp };

struct LossCase {
  Loss loss;
  EndpointCase endpoint;
};

void PrintTo(const LossCase& c, std::ostream* out) {
  *out << (c.loss == Loss::kKilled ? "killed " : "hung up ") << c.endpoint.target;
}

std::vector<LossCase> AllCases() {
  std::vector<LossCase> cases;
  for (const Loss loss : {Loss::kKilled, Loss::kHungUp}) {
    for (const EndpointCase& e : DeviceEndpoints()) cases.push_back({loss, e});
  }
  return cases;
}

class LineLoss : public BusTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(LineLoss, EndpointAnswersFromTheImageAndTheNextCycleRecovers) {
  const Loss loss = GetParam().loss;
  const EndpointCase& e = GetParam().endpoint;
  const bool write = !e.writeFrame.empty();
  const int device = AddSim({});
  bus_.Route(device);
  StartConfigurator();

  // Good data in the image first.
  std::string good;
  if (!write) {
    const Answer a = Call(e);
    ASSERT_EQ(a.status, 200);
    ASSERT_EQ(a.log, std::vector<std::string>{});
    good = a.body;
  } else {
    // The configurator has read from the device before, so it knows that
    // the line does not echo and the write is the cycle's first request (a
    // first write on a line not yet known is preceded by a read; the
    // master's tests cover that).
    for (const EndpointCase& r : ReadEndpoints()) {
      if (r.name == "config") {
        ASSERT_EQ(Call(r).log, std::vector<std::string>{});
      }
    }
  }
  // What the image gives when every read fails: the good reply, except that
  // the two settings registers the reader presets to 1 before its read stay 1.
  const std::string fromImage =
      e.name == "settings" ? WithNumber(WithNumber(good, "s1rf", 1), "s2rf", 1) : good;
  const std::string writeAnswer = e.name == "run_config" ? "" : R"({"answer":"yes"})";

  if (loss == Loss::kKilled) {
    bus_.BeforeNextRequest([this, device] {
      kill(Sim(device).pid(), SIGKILL);
      Sim(device).Stop();  // reaped: its pty is closed
    });
  } else {
    bus_.BeforeNextRequest([this] { bus_.HangUp(); });
  }
  const Answer during = Call(e);
  EXPECT_EQ(during.status, 200);
  EXPECT_LE(during.ms, CycleBoundMs(e, kTimeoutMs)) << "longer than the time-outs of its requests";
  EXPECT_EQ(during.body, write ? writeAnswer : fromImage);
  // A line that went away says so once, after the first failed block: the
  // request's write or its read meets the hang-up, whichever it reaches.
  std::vector<std::string> duringLog = write ? std::vector<std::string>{} : e.readErrorLines;
  const std::string lost = "Input/output error: the adapter was unplugged; plug it in again";
  if (loss == Loss::kHungUp && !duringLog.empty()) duringLog.insert(duringLog.begin() + 1, "CALL: " + lost);
  std::vector<std::string> logged = during.log;
  for (std::string& line : logged) {
    if (line == "write: " + lost || line == "read: " + lost) line = "CALL: " + lost;
  }
  EXPECT_EQ(logged, duringLog);
  if (write) {
    // The frame left the configurator once; nothing was sent again.
    EXPECT_EQ(WriteFrames(bus_.Requests(device)), std::vector<std::string>{ktr::test::ToHex(e.writeFrame)});
  }

  // The device is free for the next request, which meets the same loss.
  const Answer next = Call(e);
  EXPECT_EQ(next.status, 200);
  EXPECT_LE(next.ms, CycleBoundMs(e, kTimeoutMs));
  if (loss == Loss::kKilled) {
    EXPECT_EQ(next.body, write ? writeAnswer : fromImage);
    EXPECT_EQ(next.log, write ? std::vector<std::string>{} : e.readErrorLines);
  } else {
    EXPECT_EQ(next.body, "");
    EXPECT_EQ(next.log,
              (std::vector<std::string>{"Error open port !!!",
                                        "open " + bus_.link() +
                                            ": No such file or directory: the adapter is unplugged or "
                                            "the port has another name (ktr-cli ports lists them)"}));
  }

  // A device (or a line) again: good data at once.
  int now = device;
  if (loss == Loss::kKilled) {
    now = AddSim({});
    bus_.Route(now);
  } else {
    bus_.Reconnect();
  }
  const std::size_t framesBefore = bus_.Requests(now).size();
  const Answer after = Call(e);
  EXPECT_EQ(after.status, 200);
  EXPECT_EQ(after.log, std::vector<std::string>{});
  if (write) {
    EXPECT_EQ(after.body, writeAnswer);
    const auto frames = bus_.Requests(now);
    ASSERT_EQ(frames.size(), framesBefore + 1);
    EXPECT_EQ(ktr::test::ToHex(frames.back()), ktr::test::ToHex(e.writeFrame));
  } else {
    EXPECT_EQ(WithoutClock(after.body), WithoutClock(good));
  }
}

INSTANTIATE_TEST_SUITE_P(Bus, LineLoss, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<LossCase>& p) {
                           return std::string(p.param.loss == Loss::kKilled ? "Killed_" : "HungUp_") +
                                  p.param.endpoint.name;
                         });

}  // namespace
}  // namespace ktr::test
