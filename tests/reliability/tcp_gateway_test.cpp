// The configurator with its device behind an Ethernet gateway: ktr-sim on
// a TCP port (Modbus TCP or RTU over TCP), the real web server, access
// cycle, master and TCP link in front. The endpoints answer as over the
// serial line; the simulator's faults show as they do there; a gateway that
// cannot be reached, and a name that does not resolve, are logged with the
// reason.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bus_fixture.h"
#include "tcp_peers.h"

namespace ktr::test {
namespace {

const std::vector<std::string> kCompared{"display", "time", "sched_mon", "settings", "index"};

const EndpointCase& Endpoint(const std::string& name) {
  static const std::map<std::string, EndpointCase> all = [] {
    std::map<std::string, EndpointCase> m;
    for (EndpointCase& e : DeviceEndpoints()) m.emplace(e.name, e);
    return m;
  }();
  return all.at(name);
}

class Gateway : public BusTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Gateway, EndpointsAnswerAsOverTheLine) {
  bus_.Route(AddSim({}));
  const int gateway = StartSim({GetParam(), "127.0.0.1:0"});
  StartConfigurator();
  std::map<std::string, std::string> overTheLine;
  for (const std::string& name : kCompared) overTheLine[name] = WithoutClock(Call(Endpoint(name)).body);

  SwitchPort(Sim(gateway).link());
  for (const std::string& name : kCompared) {
    const Answer a = Call(Endpoint(name));
    EXPECT_EQ(a.status, 200) << name;
    EXPECT_EQ(a.deviceStatus, "ok") << name;
    EXPECT_EQ(a.log, std::vector<std::string>{}) << name;
    EXPECT_EQ(WithoutClock(a.body), overTheLine.at(name)) << name;
  }
  // A write reaches the device behind the gateway.
  const Answer written = Call(Endpoint("setdata"));
  EXPECT_EQ(written.body, R"({"answer":"yes"})");
  EXPECT_EQ(written.deviceStatus, "ok");
  EXPECT_EQ(Call(Endpoint("display")).body, WithNumber(overTheLine.at("display"), "tmpe", 7));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Gateway, ::testing::Values("--tcp", "--rtu-tcp"), [](const auto& param) {
  return std::string(param.param).substr(2) == "tcp" ? "ModbusTcp" : "RtuOverTcp";
});

// The display endpoint while the device behind a Modbus TCP gateway answers
// with a fault, then once more: a fault of one request never spoils the next.
struct TcpFault {
  const char* name;
  const char* mode;  // ktr-sim --fault
  const char* kind;  // X-Device-Status of the faulty read ("ok": the read still succeeds)
  friend void PrintTo(const TcpFault& f, std::ostream* os) { *os << "--fault " << f.mode; }
};

class TcpFaults : public BusTest, public ::testing::WithParamInterface<TcpFault> {};

TEST_P(TcpFaults, DisplayUnderTheFault) {
  const TcpFault& fault = GetParam();
  const int healthy = StartSim({"--tcp", "127.0.0.1:0"});
  // Started without StartSim's first write, which a silent device would
  // make wait a whole time-out.
  ktr::test::SimProcess faulty({"--tcp", "127.0.0.1:0", "--fault", fault.mode});
  StartConfigurator(Sim(healthy).link());
  const std::string good = Call(Endpoint("display")).body;
  ASSERT_FALSE(good.empty());

  SwitchPort(faulty.link());
  const bool passes = std::string(fault.kind) == "ok";
  for (int round = 0; round < 2; ++round) {
    const Answer a = Call(Endpoint("display"));
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, good) << "round " << round;  // the reply, or the image of the good one
    if (passes) {
      EXPECT_EQ(a.deviceStatus, "ok") << "round " << round;
      EXPECT_EQ(a.log, std::vector<std::string>{}) << "round " << round;
    } else {
      EXPECT_EQ(a.deviceStatus, std::string(fault.kind) + " SET_10000_10005") << "round " << round;
      EXPECT_EQ(a.log, Endpoint("display").readErrorLines) << "round " << round;
    }
  }
  SwitchPort(Sim(healthy).link());
  EXPECT_EQ(Call(Endpoint("display")).deviceStatus, "ok");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TcpFaults,
    ::testing::Values(TcpFault{"Silent", "silent", "no-reply"}, TcpFault{"Short", "short", "no-reply"},
                      TcpFault{"BadCrc", "bad-crc", "bad-reply"}, TcpFault{"Garbage", "garbage", "bad-reply"},
                      TcpFault{"Noise", "noise", "bad-reply"},
                      TcpFault{"Exception", "exception=4", "exception"}, TcpFault{"Foreign", "foreign", "ok"},
                      TcpFault{"Long", "long", "ok"}, TcpFault{"Echo", "echo", "ok"}),
    [](const auto& param) { return std::string(param.param.name); });

// An open that fails: "Error open port !!!", then the reason with its hint;
// the reply is empty.
TEST_F(BusTest, UnreachableGatewayIsLoggedWithTheReason) {
  ktr::test::RefusingPort refusing;
  const std::string refused = "tcp://127.0.0.1:" + std::to_string(refusing.port());
  StartConfigurator(refused);
  const Answer a = Call(Endpoint("display"));
  EXPECT_EQ(a.body, "");
  EXPECT_EQ(a.deviceStatus, "port-error");
  EXPECT_EQ(a.log,
            (std::vector<std::string>{"Error open port !!!",
                                      "connect 127.0.0.1:" + std::to_string(refusing.port()) +
                                          ": Connection refused: nothing accepts connections there: check "
                                          "the port number and that the gateway's TCP server is on"}));

  SwitchPort("tcp://ktr-no-such-host.invalid:502");
  const Answer unresolved = Call(Endpoint("time"));
  ASSERT_EQ(unresolved.log.size(), 2U);
  EXPECT_EQ(unresolved.log[0], "Error open port !!!");
  EXPECT_EQ(unresolved.log[1].rfind("resolve ktr-no-such-host.invalid: ", 0), 0U) << unresolved.log[1];
}

// The device search runs over TCP too; a malformed address or a name that
// does not resolve ends it after the first open, with the reason.
TEST_F(BusTest, DeviceSearchOverTcp) {
  ktr::test::SimProcess gateway({"--tcp", "127.0.0.1:0", "--address", "3"});
  StartConfigurator(gateway.link());
  TakeLog();
  ASSERT_TRUE(device_->SearchDevice(gateway.link(), {}));
  EXPECT_EQ(device_->Settings().slaveAddress, 3);
  EXPECT_EQ(device_->Settings().transport, kTransportModbusTcp);
  std::vector<std::string> log = TakeLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Press 'Start' button for setting device");

  EXPECT_FALSE(device_->SearchDevice("tcp://", {}));
  EXPECT_EQ(TakeLog(),
            (std::vector<std::string>{"Search for connected device...", "Error open port !!!",
                                      "bad port address 'tcp://': no host name (tcp://HOST[:PORT])",
                                      "Please check the device connection"}));
}

}  // namespace
}  // namespace ktr::test
