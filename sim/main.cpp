// ktr-sim: a simulated KTR device (or several on one bus) answering as a
// Modbus RTU slave on a pseudo-terminal or a serial port, or behind a
// simulated Ethernet gateway on a TCP port (Modbus TCP or RTU over TCP).
//
// Exit codes: 0 after SIGTERM, SIGINT or SIGHUP; 1 when the line cannot be
// opened or fails; 2 for bad options.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "bus_server.h"
#include "ktr_version.h"
#include "reply_fault.h"
#include "serial_line.h"
#include "sim_log.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) { g_stop = 1; }

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a pending sleep or write returns early
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  // The ready line goes to a pipe that the starter may close afterwards.
  std::signal(SIGPIPE, SIG_IGN);
}

char ParityCode(const std::string& parity) {
  if (parity == "none") return 'N';
  if (parity == "odd") return 'O';
  return 'E';
}

ktr::Firmware FirmwareCode(const std::string& firmware) {
  if (firmware == "old") return ktr::Firmware::kOld;
  if (firmware == "none") return ktr::Firmware::kNone;
  return ktr::Firmware::kNew;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated KTR device: answers Modbus RTU requests like a KTR clock, on a\n"
      "pseudo-terminal (--pty) or a serial port (--port), or on a TCP port as a gateway\n"
      "would (--tcp: Modbus TCP, --rtu-tcp: RTU frames over TCP)."};
  app.name("ktr-sim");
  app.set_version_flag("--version", std::string("ktr-sim ") + ktr::kVersion);

  std::string link;
  std::string port;
  std::string tcp;
  std::string rtu_tcp;
  std::vector<int> addresses;
  std::string firmware = "new";
  std::string fault_text = "none";
  ktr_sim::LineSettings line_settings;
  std::string parity = "even";
  bool verbose = false;
  unsigned wire_baud = 0;

  auto* pty_option =
      app.add_option("--pty", link, "Serve a new pseudo-terminal reached through the symbolic link LINK")
          ->type_name("LINK");
  auto* port_option = app.add_option("--port", port, "Serve this serial port")->type_name("DEVICE");
  auto* tcp_option =
      app.add_option("--tcp", tcp, "Serve Modbus TCP on ADDR:PORT (port 0: a free one; the ready line tells)")
          ->type_name("ADDR:PORT");
  auto* rtu_tcp_option =
      app.add_option("--rtu-tcp", rtu_tcp, "Serve RTU frames over TCP on ADDR:PORT, as a transparent gateway")
          ->type_name("ADDR:PORT");
  for (CLI::Option* option : {tcp_option, rtu_tcp_option}) {
    option->check(CLI::Validator([](std::string& text) { return ktr_sim::TcpAddressError(text); }, ""));
  }
  pty_option->excludes(port_option)->excludes(tcp_option)->excludes(rtu_tcp_option);
  port_option->excludes(tcp_option)->excludes(rtu_tcp_option);
  tcp_option->excludes(rtu_tcp_option);
  app.add_option("--address", addresses,
                 "Modbus address to answer on, 1-247 (default 1); repeat it for several devices on one bus")
      ->type_name("N")
      ->check(CLI::Range(1, 247));
  std::string readdress = "never";
  app.add_option("--readdress", readdress,
                 "When a device answers on the address written to its address setting (10060): never (it "
                 "keeps its address), now (from the write on) or apply (after Apply configuration); with "
                 "now and apply, factory defaults bring it back to address 1")
      ->check(CLI::IsMember({"never", "now", "apply"}))
      ->capture_default_str();
  app.add_option("--firmware", firmware,
                 "Firmware: new (0.35.4), old (0.35.3) or none (no version registers)")
      ->check(CLI::IsMember({"new", "old", "none"}))
      ->capture_default_str();
  app.add_option("--fault", fault_text,
                 "Fault on every reply: silent, bad-crc, exception=N, short, long, slow=MS, garbage;\n"
                 "or of the line: echo (each request comes back before the reply), noise (a stray\n"
                 "byte before each reply), foreign (another address's late reply before each reply).\n"
                 "With --tcp the faults that damage a frame damage its MBAP header instead: bad-crc\n"
                 "sends protocol id 1, short a cut frame, noise a stray byte before it, garbage random\n"
                 "bytes, foreign a reply under the previous transaction id first")
      ->type_name("MODE")
      ->check(CLI::Validator(
          [](std::string& text) {
            std::string error;
            return ktr_sim::ParseFault(text, error) ? std::string() : error;
          },
          ""))
      ->capture_default_str();
  app.add_option("--baud", line_settings.baud, "Baud rate (ignored on a pty; see --wire)")
      ->check(CLI::Range(50u, 4000000u))
      ->capture_default_str();
  app.add_option("--parity", parity, "Parity: none, odd or even (on a pty only the framing of --wire)")
      ->check(CLI::IsMember({"none", "odd", "even"}))
      ->capture_default_str();
  app.add_option("--data", line_settings.data_bits, "Data bits, 5-8 (on a pty only the framing of --wire)")
      ->check(CLI::Range(5, 8))
      ->capture_default_str();
  app.add_option("--stop", line_settings.stop_bits, "Stop bits, 1 or 2 (on a pty only the framing of --wire)")
      ->check(CLI::Range(1, 2))
      ->capture_default_str();
  app.add_option("--wire", wire_baud,
                 "Carry the bytes as a line of this baud rate would, with the --parity, --data and\n"
                 "--stop framing: the reply starts after the request's wire time and a 2 ms\n"
                 "turnaround, each byte when its last bit would have come (0: answer at once)")
      ->type_name("BAUD")
      ->check(CLI::Range(0u, 4000000u))
      ->capture_default_str();
  app.add_flag("--verbose,-v", verbose, "Show every request and reply as hex on stderr");

  try {
    app.parse(argc, argv);
    if (pty_option->count() == 0 && port_option->count() == 0 && tcp_option->count() == 0 &&
        rtu_tcp_option->count() == 0) {
      throw CLI::RequiredError("--pty LINK, --port DEVICE, --tcp ADDR:PORT or --rtu-tcp ADDR:PORT");
    }
    std::set<int> seen;
    for (int a : addresses) {
      if (!seen.insert(a).second) {
        throw CLI::ValidationError("--address", "address " + std::to_string(a) + " given twice");
      }
    }
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  ktr_sim::BusOptions options;
  if (!addresses.empty()) options.addresses.assign(addresses.begin(), addresses.end());
  options.firmware = FirmwareCode(firmware);
  std::string unused;
  options.fault = *ktr_sim::ParseFault(fault_text, unused);
  options.verbose = verbose;
  options.readdress = readdress == "now"     ? ktr_sim::Readdress::kAtOnce
                      : readdress == "apply" ? ktr_sim::Readdress::kOnApply
                                             : ktr_sim::Readdress::kNever;
  options.wireBaud = wire_baud;
  options.dataBits = line_settings.data_bits;
  options.parity = parity != "none";
  options.stopBits = line_settings.stop_bits;
  line_settings.parity = ParityCode(parity);

  InstallSignals();
  try {
    std::unique_ptr<ktr_sim::Line> line;
    if (pty_option->count() > 0) {
      line = ktr_sim::OpenPty(link);
    } else if (port_option->count() > 0) {
      line = ktr_sim::OpenSerialPort(port, line_settings);
    } else {
      line = ktr_sim::ListenTcp(tcp_option->count() > 0 ? tcp : rtu_tcp, tcp_option->count() > 0);
    }
    ktr_sim::BusServer server(*line, options);
    std::printf("ready %s\n", line->ReadyText().c_str());
    std::fflush(stdout);
    if (verbose) {
      std::string list;
      for (std::uint8_t a : options.addresses) list += (list.empty() ? "" : ", ") + std::to_string(a);
      ktr_sim::LogLine("answering on address " + list + ", firmware " + firmware + ", fault " +
                       ktr_sim::FaultName(options.fault));
    }
    server.Run(g_stop);
  } catch (const std::exception& e) {
    ktr_sim::LogLine(e.what());
    return 1;
  }
  return 0;
}
