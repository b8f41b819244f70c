// The Windows ktr-cli (mingw-w64 build) under Wine against the Linux ktr-sim:
// the simulator serves a pseudo-terminal through the symbolic link that the
// Wine prefix maps to COM5 (HKLM\Software\Wine\Ports, so that Wine also lists
// COM5 under HARDWARE\DEVICEMAP\SERIALCOMM). This runs the Win32 serial port,
// the registry port list, the Winsock server and the console stop request
// of the real program, and its Winsock link to a gateway against ktr-sim on a
// loopback TCP port. scripts/test-windows sets the prefix up and runs this
// with:
//   WINEPREFIX        the prefix (its wineserver already running)
//   KTR_WINE          what starts a Windows program (scripts/test-windows:
//                     tests/windows/wine-fixed-layout)
//   KTR_WINDOWS_CLI   the cross-built ktr-cli.exe
//   KTR_WINE_COM5     the link that COM5 names in the prefix
//
// Wine on a pseudo-terminal differs from Windows on a serial port in ways
// the tests step around rather than assert on:
// - Even or odd parity fails SetCommState (ERROR_INVALID_PARAMETER) from the
//   second open of the pty on: a pty drops PARENB, so once the other flags
//   Wine sets are in place its tcsetattr changes nothing, and glibc's
//   tcsetattr reads the settings back and reports a request of which nothing
//   took as EINVAL (Wine 8.0, glibc 2.36). The lines here use parity none,
//   which a pty does not mind.
// - A baud rate with no B-constant (14400) is set as 38400 and reads back as
//   that (Wine's serial code without termios2).
// - A second CreateFileW of an open COM port succeeds; Windows refuses it.
// - 8 data bits with 1.5 stop bits, or 5 with 2, are accepted; Windows'
//   serial driver refuses both.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "http_client.h"
#include "ktr_register_map.h"
#include "run_process.h"
#include "sim_process.h"
#include "spawned_process.h"
#include "tcp_peers.h"

namespace {

using ktr::test::ProcessResult;
using ktr::test::SpawnedProcess;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Windows programs end their lines with CR LF (the C runtime's text mode).
std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

// A failure's error line; the line after it says what to check (its words
// are the Linux tests' concern).
std::string ErrorLine(const std::string& err) {
  const std::size_t end = err.find('\n');
  EXPECT_EQ(err.compare(end + 1, 7, "check: "), 0) << err;
  return err.substr(0, end + 1);
}

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    wine_ = Env("KTR_WINE");
    cli_ = Env("KTR_WINDOWS_CLI");
    const std::string link = Env("KTR_WINE_COM5");
    ASSERT_FALSE(wine_.empty() || cli_.empty() || link.empty() || Env("WINEPREFIX").empty())
        << "run through scripts/test-windows (WINEPREFIX, KTR_WINE, KTR_WINDOWS_CLI, KTR_WINE_COM5)";
    sim_ = std::make_unique<ktr::test::SimProcess>(std::vector<std::string>{}, link);
  }

  // ktr-cli.exe with `args`, then the line options for COM5.
  ProcessResult Cli(std::vector<std::string> args, const std::vector<std::string>& line = kLine) {
    args.insert(args.begin(), cli_);
    args.insert(args.end(), line.begin(), line.end());
    ProcessResult r = ktr::test::RunProcess(wine_, args, 60000);
    r.out = WithoutCr(r.out);
    r.err = WithoutCr(r.err);
    return r;
  }

  static inline const std::vector<std::string> kLine = {"--port", "COM5", "--parity", "none"};

  std::string wine_;
  std::string cli_;
  std::unique_ptr<ktr::test::SimProcess> sim_;
};

TEST_F(WineCli, PortListShowsTheMappedPort) {
  const ProcessResult r = Cli({"ports"}, {});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> names;
  for (std::string name; std::getline(lines, name);) names.push_back(name);
  EXPECT_NE(std::find(names.begin(), names.end(), "COM5"), names.end()) << r.out;
}

TEST_F(WineCli, ReadsAndWritesRegisters) {
  const auto count = ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew);
  const ProcessResult length = Cli({"read", "8000", "1"});
  ASSERT_EQ(length.exitCode, 0) << length.err;
  EXPECT_EQ(length.out, "8000 " + std::to_string(count) + "\n");

  const ProcessResult written = Cli({"write", "14001", "2", "0x0730", "65535"});
  ASSERT_EQ(written.exitCode, 0) << written.err;
  const ProcessResult back = Cli({"read", "14001", "3"});
  ASSERT_EQ(back.exitCode, 0) << back.err;
  EXPECT_EQ(back.out, "14001 2\n14002 1840\n14003 65535\n");

  // 14400 has no B-constant; Wine sets 38400 instead (a pty ignores both).
  const ProcessResult odd = Cli({"read", "8000", "1", "--baud", "14400", "--stop", "2", "--data", "8"});
  EXPECT_EQ(odd.exitCode, 0) << odd.err;
}

// Short and missing replies end the one ReadFile by its total time-out.
TEST_F(WineCli, DeviceFailuresGiveTheirCodes) {
  struct {
    std::vector<std::string> args;
    std::string err;
  } const cases[] = {
      {{"read", "60000", "1", "--timeout", "300"}, "error: -52 illegal data address\n"},
      {{"read", std::to_string(ktr::trigger::kException), "1", "--timeout", "300"},
       "error: -54 slave device failure\n"},
      {{"read", std::to_string(ktr::trigger::kSilent), "1", "--timeout", "300"}, "error: -4 no reply\n"},
      {{"read", std::to_string(ktr::trigger::kBadCrc), "1", "--timeout", "300"},
       "error: -1 port, write or CRC failure\n"},
      {{"read", std::to_string(ktr::trigger::kShort), "2", "--timeout", "300"}, "error: -4 no reply\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[1];
    EXPECT_EQ(ErrorLine(r.err), c.err) << c.args[1];
    EXPECT_EQ(r.out, "");
  }
  // The device still answers after all that.
  EXPECT_EQ(Cli({"read", "8000", "1"}).exitCode, 0);
}

// The trace comes from the Win32 port's own writes and reads; diag knows
// nothing of drivers or holders on Windows but opens and probes.
TEST_F(WineCli, TraceAndDiag) {
  const auto count = ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew);
  const ProcessResult traced = Cli({"--trace", "read", "8000", "1"});
  ASSERT_EQ(traced.exitCode, 0) << traced.err;
  EXPECT_EQ(traced.out, "8000 " + std::to_string(count) + "\n");
  EXPECT_NE(traced.err.find(" TX 01 03 1F 40 00 01 82 0A\n"), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find(" RX 01 03 02 00 "), std::string::npos) << traced.err;

  const ProcessResult diag = Cli({"diag", "--address", "1"});
  EXPECT_EQ(diag.exitCode, 0) << diag.out << diag.err;
  EXPECT_NE(diag.out.find("\nopen:        ok, 19200 8N1\n"), std::string::npos) << diag.out;
  EXPECT_NE(diag.out.find("\nanswers:     address 1 (register 8000 = " + std::to_string(count) + ")\n"),
            std::string::npos)
      << diag.out;
}

// Behind a gateway (the Linux ktr-sim on a loopback TCP port): the Winsock
// link, its non-blocking connect, the waits for the reply and a refused
// connect.
TEST_F(WineCli, ReadsThroughAGatewayOnWinsock) {
  const auto count = ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew);
  for (const char* kind : {"--tcp", "--rtu-tcp"}) {
    ktr::test::SimProcess gateway({kind, "127.0.0.1:0"});
    const std::vector<std::string> port{"--port", gateway.link(), "--timeout", "300"};
    const ProcessResult read = Cli({"--trace", "read", "8000", "1"}, port);
    ASSERT_EQ(read.exitCode, 0) << kind << " " << read.err;
    EXPECT_EQ(read.out, "8000 " + std::to_string(count) + "\n");
    EXPECT_NE(read.err.find(std::string(kind) == "--tcp" ? " TX 00 01 00 00 00 06 01 03 1F 40 00 01\n"
                                                         : " TX 01 03 1F 40 00 01 82 0A\n"),
              std::string::npos)
        << read.err;
    const ProcessResult silent = Cli({"read", std::to_string(ktr::trigger::kSilent), "1"}, port);
    EXPECT_EQ(ErrorLine(silent.err), "error: -4 no reply\n") << kind;
    const ProcessResult outside = Cli({"read", "60000", "1"}, port);
    EXPECT_EQ(ErrorLine(outside.err), "error: -52 illegal data address\n") << kind;
  }
  const ktr::test::RefusingPort closed;
  const std::string address = "127.0.0.1:" + std::to_string(closed.port());
  const ProcessResult refused = Cli({"read", "8000", "1"}, {"--port", "tcp://" + address});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(
      refused.err.rfind("error: -1 cannot open port tcp://" + address + ": connect " + address + ": ", 0), 0U)
      << refused.err;
  EXPECT_EQ(Cli({"read", "8000", "1"}, {"--port", "tcp://host:0"}).exitCode, 2);
}

TEST_F(WineCli, PortThatDoesNotExist) {
  const ProcessResult r = Cli({"read", "8000", "1"}, {"--port", "COM239"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: -1 cannot open port COM239: CreateFileW \\\\.\\COM239: ", 0), 0U) << r.err;
}

TEST_F(WineCli, ServesTheDeviceOverHttpAndStopsOnCtrlC) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("ktr-wine-web-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  std::ofstream(root / "index.html") << "<!doctype html><title>KTR</title>";

  std::vector<std::string> args = {cli_, "serve", "--listen", "127.0.0.1:0", "--web", root.string()};
  args.insert(args.end(), kLine.begin(), kLine.end());
  auto server = std::make_unique<SpawnedProcess>(wine_, args,
                                                 "listening on http://127.0.0.1:", std::chrono::seconds(60));
  const std::uint16_t port = ktr::test::ListeningPort(server->readyLine());

  const auto page = ktr::test::Get(port, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<!doctype html><title>KTR</title>");
  // The search read the firmware text over COM5; the endpoint reads the
  // device again for its reply.
  const auto web = ktr::test::Get(port, "/get_web_data.cgi");
  EXPECT_EQ(web.status, 200);
  EXPECT_NE(web.body.find(std::string(ktr::defaults::kFirmwareTextNew)), std::string::npos) << web.body;
  const auto display = ktr::test::Get(port, "/get_display_data.cgi");
  EXPECT_EQ(display.status, 200);
  EXPECT_EQ(display.body.rfind("{\"tmpe\":", 0), 0U) << display.body;

  // Wine turns SIGINT into the console's Ctrl+C event.
  EXPECT_EQ(server->Stop(SIGINT), 0);
  std::filesystem::remove_all(root);
}

}  // namespace
