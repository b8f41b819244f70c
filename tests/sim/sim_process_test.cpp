// ktr-sim as a process: options, exit codes, the link and stopping.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim_process.h"
#include "sim_wire.h"

namespace ktr::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A temporary folder that removes itself.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "ktr-sim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct SignalCase {
  const char* name;
  int signal;
  friend void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }
};

class StopSignalTest : public testing::TestWithParam<SignalCase> {};

TEST_P(StopSignalTest, ExitsZeroAndRemovesLink) {
  SimProcess sim;
  const std::string target = fs::read_symlink(sim.link()).string();
  EXPECT_TRUE(target.starts_with("/dev/pts/")) << target;
  ASSERT_EQ(kill(sim.pid(), GetParam().signal), 0);
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest,
                         testing::Values(SignalCase{"Term", SIGTERM}, SignalCase{"Int", SIGINT},
                                         SignalCase{"Hup", SIGHUP}),
                         CaseName());

TEST(Process, StopsPromptlyDuringASlowReply) {
  SimProcess sim({"--fault", "slow=600000"});
  RawLine line(sim.link());
  line.Write(ReadRequestFrame(1, 3, 8000, 1));
  // Let the request arrive, so the simulator is inside its pause.
  EXPECT_TRUE(line.ReadUntilQuiet(200ms).empty());
  // SIGTERM, not the SIGKILL that Stop() falls back to (exit 137).
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(Process, ServesASerialPort) {
  // The far end of a pseudo-terminal pair stands in for a serial port: the
  // simulator opens it by name and sets the line up as for real hardware
  // (the pty accepts and ignores the line settings, 14400 baud included).
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  char name[128] = {};
  ASSERT_EQ(ttyname_r(slave, name, sizeof name), 0);
  close(slave);
  termios t{};
  tcgetattr(master, &t);
  cfmakeraw(&t);
  tcsetattr(master, TCSANOW, &t);
  {
    SimProcess sim({"--port", name, "--baud", "14400", "--parity", "odd", "--data", "7", "--stop", "2"});
    EXPECT_EQ(sim.link(), name);
    const Bytes request = ReadRequestFrame(1, 3, 8000, 1);
    ASSERT_EQ(write(master, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    Bytes reply(7);
    std::size_t got = 0;
    pollfd p{master, POLLIN, 0};
    while (got < reply.size() && poll(&p, 1, 2000) > 0) {
      const ssize_t n = read(master, reply.data() + got, reply.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(ToHex(reply), ToHex(ReadReply(1, 3, {10})));
    EXPECT_EQ(sim.Stop(), 0);
  }
  close(master);
}

TEST(Process, ReplacesAStaleLink) {
  TempFolder folder;
  const fs::path link = folder.path() / "ttyKTR";
  fs::create_symlink("/dev/pts/no-such-terminal", link);
  SimProcess sim({}, link.string());
  EXPECT_TRUE(fs::read_symlink(link).string().starts_with("/dev/pts/"));
  ModbusClient client(link.string(), 1);
  std::vector<std::uint16_t> values;
  EXPECT_EQ(client.Read(8000, 1, values), 0);
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Process, LeavesAFileInTheWayAlone) {
  TempFolder folder;
  const fs::path file = folder.path() / "notes.txt";
  std::ofstream(file) << "keep me\n";
  const RunResult r = RunSimToExit({"--pty", file.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.stderr_text.find("no symbolic link"), std::string::npos) << r.stderr_text;
  std::ifstream in(file);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "keep me");
}

TEST(Process, PortThatCannotBeOpenedGivesTheReason) {
  TempFolder folder;
  const std::string port = (folder.path() / "ttyUSB9").string();
  const RunResult r = RunSimToExit({"--port", port});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.stderr_text.find("cannot open " + port + ": No such file or directory"), std::string::npos)
      << r.stderr_text;
}

struct BadOptionCase {
  const char* name;
  std::vector<std::string> args;
  const char* message;  // part of the error text
  friend void PrintTo(const BadOptionCase& c, std::ostream* os) { *os << c.name; }
};

class BadOptionTest : public testing::TestWithParam<BadOptionCase> {};

TEST_P(BadOptionTest, ExitsTwoWithMessage) {
  const RunResult r = RunSimToExit(GetParam().args);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.stderr_text.find(GetParam().message), std::string::npos) << r.stderr_text;
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadOptionTest,
    testing::Values(
        BadOptionCase{
            "NoLine", {}, "--pty LINK, --port DEVICE, --tcp ADDR:PORT or --rtu-tcp ADDR:PORT is required"},
        BadOptionCase{"BothLines", {"--pty", "/tmp/x", "--port", "/dev/null"}, "excludes"},
        BadOptionCase{"PtyAndTcp", {"--pty", "/tmp/x", "--tcp", "127.0.0.1:0"}, "excludes"},
        BadOptionCase{"BothTcpKinds", {"--tcp", "127.0.0.1:0", "--rtu-tcp", "127.0.0.1:0"}, "excludes"},
        BadOptionCase{"TcpNoPort", {"--tcp", "127.0.0.1"}, "is not HOST:PORT"},
        BadOptionCase{"TcpPortTooLarge", {"--rtu-tcp", "127.0.0.1:65536"}, "from 0 to 65535"},
        BadOptionCase{"AddressZero", {"--pty", "/tmp/x", "--address", "0"}, "not in range 1 to 247"},
        BadOptionCase{"Address248", {"--pty", "/tmp/x", "--address", "248"}, "not in range 1 to 247"},
        BadOptionCase{"AddressTwice", {"--pty", "/tmp/x", "--address", "3", "--address", "3"}, "given twice"},
        BadOptionCase{"UnknownFault", {"--pty", "/tmp/x", "--fault", "loud"}, "unknown fault 'loud'"},
        BadOptionCase{"ExceptionZero", {"--pty", "/tmp/x", "--fault", "exception=0"}, "from 1 to 255"},
        BadOptionCase{"ExceptionText", {"--pty", "/tmp/x", "--fault", "exception=x"}, "from 1 to 255"},
        BadOptionCase{"SlowNegative", {"--pty", "/tmp/x", "--fault", "slow=-5"}, "milliseconds"},
        BadOptionCase{"Firmware", {"--pty", "/tmp/x", "--firmware", "beta"}, "--firmware"},
        BadOptionCase{"Parity", {"--port", "/dev/null", "--parity", "mark"}, "--parity"},
        BadOptionCase{"DataBits", {"--port", "/dev/null", "--data", "9"}, "--data"},
        BadOptionCase{"StopBits", {"--port", "/dev/null", "--stop", "3"}, "--stop"},
        BadOptionCase{"Baud", {"--port", "/dev/null", "--baud", "fast"}, "--baud"},
        BadOptionCase{"Readdress", {"--pty", "/tmp/x", "--readdress", "later"}, "--readdress"},
        BadOptionCase{"Unknown", {"--pty", "/tmp/x", "--colour"}, "--colour"}),
    CaseName());

TEST(Process, HelpExitsZero) { EXPECT_EQ(RunSimToExit({"--help"}).exit_code, 0); }

}  // namespace
}  // namespace ktr::test
