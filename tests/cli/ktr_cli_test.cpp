// ktr-cli read and write as a user runs them, against the simulated device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fake_sysfs.h"
#include "ktr_register_map.h"
#include "ktr_version.h"
#include "run_process.h"
#include "sim_process.h"
#include "tcp_peers.h"

namespace {

using ktr::test::ProcessResult;
using ktr::test::RunProcess;
using ktr::test::SimProcess;

ProcessResult Cli(std::vector<std::string> args) { return RunProcess(KTR_CLI_PATH, args); }

// The line after each error that says what to check, by failure.
const std::string kCheckNoReply =
    "check: the A/B wiring, the baud rate and parity (--baud, --parity) and the device address (--address), "
    "then "
    "run ktr-cli diag on the same port\n";
const std::string kCheckBadReply =
    "check: the A/B wiring, the baud rate and parity (--baud, --parity) and the bus terminator, then run "
    "ktr-cli "
    "diag on the same port\n";
const std::string kCheckException =
    "check: the device address (--address): another kind of device may answer there, or its firmware lacks "
    "these "
    "registers\n";
const std::string kCheckPort =
    "check: the port name (ktr-cli ports lists the ports) and the adapter's cable, then run ktr-cli diag on "
    "the "
    "same port\n";
const std::string kCheckNoDevice =
    "check: the A/B wiring, the baud rate and parity (--baud, --parity) and the power of the devices, then "
    "run "
    "ktr-cli diag on the same port\n";
const std::string kCheckFile =
    "check: the file name, and that the file was written by ktr-cli backup or the Bus page's \"Save "
    "configuration "
    "to a file\" (docs/config-file.md)\n";

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class KtrCli : public ::testing::Test {
 protected:
  SimProcess sim;
  std::vector<std::string> Port() const { return {"--port", sim.link()}; }
};

TEST_F(KtrCli, ReadsTheFirmwareText) {
  const auto count = ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew);
  const ProcessResult length = Cli(With({"read", "8000", "1"}, Port()));
  ASSERT_EQ(length.exitCode, 0) << length.err;
  EXPECT_EQ(length.out, "8000 " + std::to_string(count) + "\n");

  const ProcessResult text = Cli(With({"read", "8001", std::to_string(count)}, Port()));
  ASSERT_EQ(text.exitCode, 0) << text.err;
  std::string decoded;
  std::istringstream lines(text.out);
  unsigned reg = 0, value = 0, expectedReg = 8001;
  while (lines >> reg >> value) {
    EXPECT_EQ(reg, expectedReg++);
    for (unsigned ch : {value >> 8, value & 0xFFU}) {
      if (ch != 0) decoded += static_cast<char>(ch);
    }
  }
  EXPECT_EQ(expectedReg, 8001U + count);
  EXPECT_EQ(decoded, ktr::defaults::kFirmwareTextNew);
}

TEST_F(KtrCli, WritesOneOrSeveralRegisters) {
  const ProcessResult single = Cli(With({"write", "14000", "1"}, Port()));
  ASSERT_EQ(single.exitCode, 0) << single.err;
  EXPECT_EQ(single.out, "");
  const ProcessResult several = Cli(With({"write", "14001", "2", "0x0730", "65535"}, Port()));
  ASSERT_EQ(several.exitCode, 0) << several.err;
  const ProcessResult back = Cli(With({"read", "14000", "4"}, Port()));
  ASSERT_EQ(back.exitCode, 0) << back.err;
  EXPECT_EQ(back.out, "14000 1\n14001 2\n14002 1840\n14003 65535\n");
}

TEST_F(KtrCli, DeviceFailuresPrintCodeAndMeaning) {
  struct {
    std::vector<std::string> args;
    std::string err;
  } const cases[] = {
      {{"read", "60000", "1"}, "error: -52 illegal data address\n" + kCheckException},
      {{"read", std::to_string(ktr::trigger::kException), "1"},
       "error: -54 slave device failure\n" + kCheckException},
      {{"read", std::to_string(ktr::trigger::kSilent), "1", "--timeout", "200"},
       "error: -4 no reply\n" + kCheckNoReply},
      {{"read", std::to_string(ktr::trigger::kBadCrc), "1", "--timeout", "200"},
       "error: -1 port, write or CRC failure\n" + kCheckBadReply},
      {{"read", std::to_string(ktr::trigger::kShort), "2", "--timeout", "200"},
       "error: -4 no reply\n" + kCheckNoReply},
  };
  for (const auto& c : cases) {
    const ProcessResult r = Cli(With(c.args, Port()));
    EXPECT_EQ(r.exitCode, 1) << c.args[1];
    EXPECT_EQ(r.err, c.err) << c.args[1];
    EXPECT_EQ(r.out, "");
  }
  // A long reply's surplus costs nothing: the read succeeds.
  const ProcessResult longReply = Cli(With({"read", std::to_string(ktr::trigger::kLong), "1"}, Port()));
  EXPECT_EQ(longReply.exitCode, 0) << longReply.err;
}

// On a line that returns each request (an adapter without echo
// suppression), a write is done only when a device answered it.
TEST(KtrCliEcho, WriteIsDoneOnlyWhenADeviceAnswers) {
  SimProcess sim({"--fault", "echo"});
  struct {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
  } const cases[] = {
      {{"write", "--address", "1", "10080", "21845"}, 0, ""},
      {{"write", "--address", "9", "10080", "21845"}, 1, "error: -4 no reply\n" + kCheckNoReply},
      {{"write", "--address", "9", "10080", "21845", "--echo", "on"},
       1,
       "error: -4 no reply\n" + kCheckNoReply},
      {{"read", "--address", "1", "10080", "1", "--echo", "on"}, 0, ""},
  };
  for (const auto& c : cases) {
    const ProcessResult r = Cli(With(c.args, {"--port", sim.link(), "--timeout", "200"}));
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[2] << " " << r.err;
    EXPECT_EQ(r.err, c.err) << c.args[2];
  }
}

TEST(KtrCliPort, PortThatCannotBeOpened) {
  const ProcessResult r = Cli({"read", "--port", "/dev/ktr-no-such-port", "8000", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: -1 cannot open port /dev/ktr-no-such-port: ", 0), 0U) << r.err;
  EXPECT_TRUE(EndsWith(r.err, kCheckPort)) << r.err;
}

TEST_F(KtrCli, LineSettingsTheDriverRefuses) {
  const ProcessResult r = Cli(With({"read", "8000", "1", "--stop", "1.5"}, Port()));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: -1 cannot open port", 0), 0U) << r.err;
  const ProcessResult ok = Cli(With(
      {"read", "8000", "1", "--baud", "14400", "--parity", "odd", "--stop", "2", "--data", "8"}, Port()));
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
}

TEST(KtrCliArguments, BadArgumentsExitTwoWithUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"read", "8000", "1"},                   // no --port
      {"read", "--port", "x", "8000"},         // no count
      {"read", "--port", "x", "8000", "0"},    // count 0
      {"read", "--port", "x", "8000", "148"},  // more than one frame holds
      {"read", "--port", "x", "65535", "2"},   // past the last register
      {"read", "--port", "x", "-1", "1"},
      {"read", "--port", "x", "8000", "1", "--parity", "mark"},
      {"read", "--port", "x", "8000", "1", "--stop", "3"},
      {"read", "--port", "x", "8000", "1", "--data", "9"},
      {"read", "--port", "x", "8000", "1", "--address", "0"},
      {"read", "--port", "x", "8000", "1", "--address", "248"},
      {"read", "--port", "x", "8000", "1", "--baud", "fast"},
      {"read", "--port", "x", "8000", "1", "--bogus"},
      {"read", "--port", "x", "8000", "1", "--echo", "maybe"},
      {"read", "--port", "tcp://", "8000", "1"},  // malformed addresses: nothing is sent
      {"read", "--port", "tcp://host:0", "8000", "1"},
      {"read", "--port", "tcp://host:99999", "8000", "1"},
      {"scan", "--port", "rtu+tcp://host"},
      {"write", "--port", "x", "14000"},  // no value
      {"write", "--port", "x", "14000", "65536"},
      {"frobnicate"},
      {"backup", "--port", "x", "--address", "248"},
      {"restore", "--port", "x", "f.json"},  // no --address
      {"restore", "--port", "x", "--address", "0", "f.json"},
      {"restore", "--port", "x", "--address", "3,3", "f.json"},
      {"restore", "--port", "x", "--address", "3,", "f.json"},
      {"restore", "--port", "x", "--address", "3"},  // no file
      {"set-time", "--port", "x"},                   // neither --address nor --all
      {"set-time", "--port", "x", "--all", "--address", "3"},
      {"set-time", "--port", "x", "--all", "--time", "2024-02-30 00:00:00"},
      {"set-time", "--port", "x", "--all", "--time", "2100-01-01 00:00:00"},
      {"set-time", "--port", "x", "--all", "--time", "12:00:00"},
      {"set-time", "--port", "x", "--all", "--zone", "15"},
      {"set-time", "--port", "x", "--all", "--dst", "yes"},
      {"set-address", "--port", "x"},  // no --to
      {"set-address", "--port", "x", "--to", "0"},
      {"set-address", "--port", "x", "--to", "248"},
      {"set-address", "--port", "x", "--from", "3", "--to", "3"},
      {"report", "--port", "x"},  // neither --address nor --all
      {"report", "--port", "x", "--address", "300"},
  };
  for (const auto& args : cases) {
    const ProcessResult r = Cli(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.exitCode, 2) << joined << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << joined;
    EXPECT_EQ(r.out, "") << joined;
  }
  std::vector<std::string> tooMany = {"write", "--port", "x", "14000"};
  for (int i = 0; i < 128; ++i) tooMany.push_back("1");
  EXPECT_EQ(Cli(tooMany).exitCode, 2);
}

// The build's version, as the window logs it and the packages carry it: the
// project version, then +gitN.gHASH[.dirty] after the release tag (a valid
// Debian version).
TEST(KtrCliArguments, VersionIsTheBuildsVersion) {
  const ProcessResult r = Cli({"--version"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, std::string("ktr-cli ") + ktr::kVersion + "\n");
  EXPECT_TRUE(
      std::regex_match(ktr::kVersion, std::regex(R"(\d+\.\d+\.\d+(\+git\d+\.g[0-9a-f]{7,}(\.dirty)?)?)")))
      << ktr::kVersion;
}

// Trace lines: the local time to the millisecond, the direction, the bytes.
TEST_F(KtrCli, TracePrintsEveryFrameOnStderr) {
  const ProcessResult read = Cli(With({"--trace", "read", "8000", "1"}, Port()));
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out.rfind("8000 ", 0), 0U) << read.out;  // stdout holds the values only
  EXPECT_TRUE(
      std::regex_match(read.err, std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} TX 01 03 1F 40 00 01 82 0A\n"
                                            "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} RX 01 03 02( [0-9A-F]{2}){4}\n")))
      << read.err;

  // After the command's name too; a failed request's error line follows.
  const ProcessResult silent =
      Cli(With({"read", std::to_string(ktr::trigger::kSilent), "1", "--timeout", "100", "--trace"}, Port()));
  EXPECT_EQ(silent.exitCode, 1);
  EXPECT_TRUE(std::regex_match(silent.err,
                               std::regex("\\S+ TX( [0-9A-F]{2}){8}\nerror: -4 no reply\ncheck: [^\n]+\n")))
      << silent.err;
}

// Behind a Modbus TCP gateway: the same values; the trace shows the frames
// as they went over the connection (MBAP header, no CRC).
TEST(KtrCliTcp, ReadsThroughAGatewayAndTracesTheFrames) {
  SimProcess gateway({"--tcp", "127.0.0.1:0"});
  const ProcessResult read = Cli({"read", "--port", gateway.link(), "--trace", "8000", "1"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out,
            "8000 " + std::to_string(ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew)) + "\n");
  EXPECT_TRUE(std::regex_match(read.err, std::regex("\\S+ TX 00 01 00 00 00 06 01 03 1F 40 00 01\n"
                                                    "\\S+ RX 00 01 00 00 00 05 01 03 02 00 [0-9A-F]{2}\n")))
      << read.err;
  const ktr::test::RefusingPort closed;
  const std::string address = "127.0.0.1:" + std::to_string(closed.port());
  const ProcessResult refused = Cli({"read", "--port", "tcp://" + address, "8000", "1"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(
      refused.err.rfind(
          "error: -1 cannot open port tcp://" + address + ": connect " + address + ": Connection refused", 0),
      0U)
      << refused.err;
}

TEST_F(KtrCli, Rs485ModeOnAPortWithoutItFailsWithTheReason) {
  const ProcessResult r = Cli(With({"read", "8000", "1", "--rs485"}, Port()));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: -1 cannot open port", 0), 0U) << r.err;
  EXPECT_NE(r.err.find("RS-485 mode (ioctl TIOCSRS485)"), std::string::npos) << r.err;
}

// diag on the simulator's pty, described by a made-up sysfs tree as if it
// were an FTDI adapter; the holder is found in the real /proc.
TEST_F(KtrCli, DiagReportsThePortAndProbes) {
  const ktr::test::FakeSysfs sys("cli-diag");
  const std::string tty = std::filesystem::canonical(sim.link()).filename().string();
  sys.Usb(tty, "ftdi_sio", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"});
  sys.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", tty);
  const std::vector<std::string> folders{"--sysfs-tty", sys.ttyClass().string(), "--by-id",
                                         sys.byId().string()};

  const ProcessResult found = Cli(With(With({"diag", "--address", "1"}, Port()), folders));
  EXPECT_EQ(found.exitCode, 0) << found.err;
  const std::string device = std::filesystem::canonical(sim.link()).string();
  const std::string expected =
      "port:        " + sim.link() + "\n" + "device:      " + device + "\n" +
      "driver:      ftdi_sio\n"
      "USB:         0403:6001 FTDI FT232R USB UART, serial A50285BI\n"
      "stable name: " +
      sys.byId().string() +
      "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
      "held by:     " +
      std::to_string(sim.pid()) +
      " ktr-sim\n"
      "open:        ok, 19200 8E1\n"
      "RS-485:      the driver has no RS-485 mode (USB adapters switch direction by themselves)\n"
      "low latency: the driver has no such setting\n"
      "probe:       address 1, register 8000, 1000 ms each\n"
      "answers:     address 1 (register 8000 = " +
      std::to_string(ktr::defaults::FirmwareTextRegisters(ktr::Firmware::kNew)) +
      ")\n"
      "line errors: not counted by this driver\n";
  EXPECT_EQ(found.out, expected);

  const ProcessResult empty =
      Cli(With(With({"diag", "--address", "9", "--timeout", "100"}, Port()), folders));
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_NE(empty.out.find("\nanswers:     address 9: -4 no reply\n"), std::string::npos) << empty.out;

  const ProcessResult missing = Cli({"diag", "--port", "/dev/ktr-no-such-port"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(
      missing.out.find("\nopen:        failed: open /dev/ktr-no-such-port: No such file or directory: "),
      std::string::npos)
      << missing.out;
}

// scan --all, backup, restore and set-time on a bus of two devices.
class KtrCliBus : public ::testing::Test {
 protected:
  SimProcess sim{{"--address", "3", "--address", "7"}};
  std::vector<std::string> Port() const { return {"--port", sim.link()}; }
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("ktr-cli-bus-" + std::to_string(sim.pid()));
  void SetUp() override { std::filesystem::create_directories(folder); }
  void TearDown() override { std::filesystem::remove_all(folder); }
};

TEST_F(KtrCliBus, ScanAllListsEveryDevice) {
  const ProcessResult r = Cli(With({"scan", "--all"}, Port()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string fw = " firmware " + std::string(ktr::defaults::kFirmwareTextNew) + " version 0.35.4\n";
  EXPECT_EQ(r.out, "address 3" + fw + "address 7" + fw);
  // No terminal: no progress line, only the summary.
  EXPECT_TRUE(std::regex_match(r.err, std::regex("2 devices answer on addresses 1-126 \\(\\d+\\.\\d s\\)\n")))
      << r.err;
}

TEST_F(KtrCliBus, BackupRestoreAndAHandEditedFile) {
  const std::string file = (folder / "clock3.json").string();
  const ProcessResult backup = Cli(With({"backup", "--address", "3", "-o", file}, Port()));
  ASSERT_EQ(backup.exitCode, 0) << backup.err;
  EXPECT_EQ(backup.out, "");
  std::ifstream in(file);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_NE(text.find("\"tmpe\": 10,"), std::string::npos) << text;

  // A bad value: an error naming the key, and not one frame on the line.
  const std::string bad = (folder / "bad.json").string();
  std::ofstream(bad) << std::regex_replace(text, std::regex("\"tmpe\": 10,"), "\"tmpe\": 70000,");
  const ProcessResult refused = Cli(With({"--trace", "restore", "--address", "7", bad}, Port()));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(
      refused.err,
      "error: " + bad + ": display.tmpe: 70000 is out of range (0 to 65535); nothing written\n" + kCheckFile);
  EXPECT_EQ(refused.out, "");

  // A good edit: shown by the dry run, written and read back by the restore.
  const std::string edited = (folder / "edited.json").string();
  std::ofstream(edited) << std::regex_replace(text, std::regex("\"tmpe\": 10,"), "\"tmpe\": 12,");
  const std::string header = "address 7: firmware " + std::string(ktr::defaults::kFirmwareTextNew) +
                             " version 0.35.4\n  display.tmpe: 10 -> 12\n";
  const ProcessResult dry = Cli(With({"restore", "--address", "7", edited, "--dry-run"}, Port()));
  EXPECT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_EQ(dry.out, header + "address 7: 1 difference (dry run: nothing written)\n");
  const ProcessResult restore = Cli(With({"restore", "--address", "7,3", edited}, Port()));
  EXPECT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(restore.out, header + "address 7: 1 difference, 1 written, 1 verified, 0 refused\n" +
                             "address 3: firmware " + std::string(ktr::defaults::kFirmwareTextNew) +
                             " version 0.35.4\n  display.tmpe: 10 -> 12\n"
                             "address 3: 1 difference, 1 written, 1 verified, 0 refused\n");
  EXPECT_EQ(Cli(With({"read", "--address", "7", "10000", "1"}, Port())).out, "10000 12\n");
}

TEST_F(KtrCliBus, SetTimeOfOneOrEveryDevice) {
  const ProcessResult one =
      Cli(With({"set-time", "--address", "7", "--time", "2024-02-29 12:00:00"}, Port()));
  EXPECT_EQ(one.exitCode, 0) << one.err;
  EXPECT_TRUE(std::regex_match(one.out, std::regex("address 7: clock set to 2024-02-29 12:00:00, "
                                                   "reads 2024-02-29 12:00:0[0-2]\n")))
      << one.out;
  EXPECT_EQ(Cli(With({"read", "--address", "7", "10020", "3"}, Port())).out, "10020 24\n10021 2\n10022 29\n");

  const ProcessResult all =
      Cli(With({"set-time", "--all", "--from-pc", "--zone", "-2", "--dst", "off"}, Port()));
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_TRUE(std::regex_match(all.out, std::regex("address 3: clock set to (\\S+ \\S+), reads \\S+ \\S+\n"
                                                   "address 3: time zone -2, daylight saving off\n"
                                                   "address 7: clock set to \\S+ \\S+, reads \\S+ \\S+\n"
                                                   "address 7: time zone -2, daylight saving off\n")))
      << all.out;
  EXPECT_EQ(Cli(With({"read", "--address", "7", "10026", "2"}, Port())).out, "10026 65534\n10027 0\n");

  // The report: both clocks set, a file that 3 holds and 7 does not, a silent address.
  const std::string file = (folder / "three.json").string();
  ASSERT_EQ(Cli(With({"backup", "--address", "3", "-o", file}, Port())).exitCode, 0);
  ASSERT_EQ(Cli(With({"write", "--address", "7", "10000", "11"}, Port())).exitCode, 0);
  const std::string csv = (folder / "report.csv").string();
  const ProcessResult report = Cli(With({"report", "--address", "3,7,9", "--file", file, "-o", csv}, Port()));
  EXPECT_EQ(report.exitCode, 1) << report.err;  // not every device is done
  std::ifstream in(csv);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string fw = std::string(ktr::defaults::kFirmwareTextNew) + ",0.35.4,";
  EXPECT_TRUE(std::regex_match(
      text, std::regex("address,firmware,version,clock,clock set,configuration file,applied,verified,time\r\n"
                       "3," +
                       fw +
                       "\\S+ \\S+,yes,three.json,yes,yes,\\S+ \\S+\r\n"
                       "7," +
                       fw +
                       "\\S+ \\S+,yes,three.json,no \\(1 difference\\),no,\\S+ \\S+\r\n"
                       "9,does not answer \\(-4 no reply\\),,,no,three.json,no,no,\\S+ \\S+\r\n")))
      << text;
}

// A new device on address 1 to its address: refused when the target
// answers, and where it answers afterwards, for both kinds of device.
TEST(KtrCliSetAddress, ANewDeviceToItsAddress) {
  struct Case {
    std::string readdress;
    std::string to;
    int exitCode;
    std::string lastLine;
  } const cases[] = {
      {"now", "3", 1, "error: address 3 already answers"},
      {"now", "5", 0,
       "address 5 answers (" + std::string(ktr::defaults::kFirmwareTextNew) + " 0.35.4). Done"},
      {"apply", "5", 1, "address 5 does not answer yet; the device still answers on address 1."},
  };
  for (const Case& c : cases) {
    SimProcess sim{{"--address", "1", "--address", "3", "--readdress", c.readdress}};
    const ProcessResult r = Cli({"set-address", "--port", sim.link(), "--to", c.to});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.readdress << " " << c.to << "\n" << r.out << r.err;
    const std::string all = r.out + r.err;
    EXPECT_NE(all.find(c.lastLine), std::string::npos) << all;
    // Nothing written to a device that was already there.
    if (c.to == "3") {
      EXPECT_EQ(Cli({"read", "--port", sim.link(), "--address", "1", "10060", "1"}).out, "10060 1\n");
    }
  }
}

// Nobody answers: each command says what failed, that nothing was written,
// and what to check.
TEST(KtrCliSilentBus, FailuresSayWhatToCheck) {
  SimProcess sim({"--fault", "silent"});
  const std::vector<std::string> port = {"--port", sim.link(), "--timeout", "100"};
  const ProcessResult scan = Cli(With({"scan", "--all"}, port));
  EXPECT_EQ(scan.exitCode, 1);
  EXPECT_EQ(scan.out, "");
  EXPECT_TRUE(std::regex_match(
      scan.err, std::regex("0 devices answer on addresses 1-126 \\(\\d+\\.\\d s\\)\n" +
                           std::regex_replace(kCheckNoDevice, std::regex(R"([().])"), R"(\$&)"))))
      << scan.err;

  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("ktr-cli-silent-" + std::to_string(sim.pid()) + ".json");
  const ProcessResult backup = Cli(With({"backup", "--address", "1", "-o", file.string()}, port));
  EXPECT_EQ(backup.exitCode, 1);
  EXPECT_EQ(backup.err.rfind("error: address 1: ", 0), 0U) << backup.err;
  EXPECT_TRUE(EndsWith(backup.err,
                       ": -4 no reply; no file written, " + file.string() + " unchanged\n" + kCheckNoReply))
      << backup.err;
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(KtrCliPorts, ListsStableNamesWithTheAdaptersDescription) {
  const ktr::test::FakeSysfs sys("cli-ports");
  sys.Usb("ttyUSB0", "ftdi_sio", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"});
  sys.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  sys.Port("ttyS0", "serial8250", "4");
  const ProcessResult r =
      Cli({"ports", "--sysfs-tty", sys.ttyClass().string(), "--by-id", sys.byId().string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "/dev/ttyS0\n/dev/ttyUSB0\tFTDI FT232R USB UART\n" + sys.byId().string() +
                       "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\tFTDI FT232R USB UART\n");
}

}  // namespace
