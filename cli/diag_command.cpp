// ktr-cli diag: what the system says about a port (driver, USB adapter,
// stable names, programs that hold it, RS-485 and low-latency state), then
// which addresses answer on it. For a technician at a line that does not
// work.
#include <cstdio>
#include <memory>
#include <string>

#include "line_options.h"
#include "modbus_master.h"
#include "port_commands.h"
#include "port_list.h"
#include "serial_port_text.h"
#include "trace.h"

namespace ktr::cli {
namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 126;
constexpr std::int32_t kScanTimeoutMs = 100;    // as the device search
constexpr std::uint16_t kProbeRegister = 8000;  // the firmware text's length: every KTR has it

struct DiagArgs {
  LineOptions line;
  int address = 0;  // 0: probe 1-126
  SystemFolders folders;
};

void Row(const char* name, const std::string& value) { std::printf("%-12s %s\n", name, value.c_str()); }

void PrintSystemView(const PortDetails& d) {
  Row("device:", d.device);
  Row("driver:", d.driver.empty() ? "unknown" : d.driver);
  if (!d.vendorId.empty()) {
    std::string usb = d.vendorId + ":" + d.productId;
    if (!d.manufacturer.empty()) usb += " " + d.manufacturer;
    if (!d.product.empty()) usb += " " + d.product;
    if (!d.serial.empty()) usb += ", serial " + d.serial;
    Row("USB:", usb);
  }
  for (const std::string& name : d.byId) Row("stable name:", name);
  if (!d.holdersLooked) {
    Row("held by:", "unknown");
  } else if (d.holders.empty()) {
    Row("held by:", "no other program that this user can see");
  }
  for (const std::string& holder : d.holders) Row("held by:", holder);
}

void PrintDriverState(const DriverState& s) {
  if (!s.rs485) {
    Row("RS-485:", "the driver has no RS-485 mode (USB adapters switch direction by themselves)");
  } else if (!*s.rs485) {
    Row("RS-485:", "off");
  } else {
    Row("RS-485:", std::string("on, RTS ") + (s.rs485RtsOnSend ? "on" : "off") + " while sending" +
                       (s.rs485RxDuringTx ? ", own frames heard (echo)" : ""));
  }
  Row("low latency:", !s.lowLatency ? "the driver has no such setting" : *s.lowLatency ? "on" : "off");
}

int RunDiag(const DiagArgs& a) {
  Row("port:", a.line.port);
  SerialSettings settings = ToSerialSettings(a.line);
  const bool tcp = IsTcpTransport(settings.transport);
  if (tcp) {
    Row("gateway:", std::string(settings.transport == kTransportModbusTcp ? "Modbus TCP" : "RTU over TCP") +
                        " at " + settings.host + ", port " + std::to_string(settings.tcpPort));
  } else {
    PrintSystemView(DescribePort(a.line.port, a.folders.ports, a.folders.byId, a.folders.proc));
  }

  TModbus master;
  AttachTrace(master);
  settings.slaveAddress = static_cast<std::uint8_t>(a.address != 0 ? a.address : kFirstAddress);
  if (a.address == 0) settings.timeoutMs = kScanTimeoutMs;
  LineSettings shown;
  shown.dataBits = settings.dataBits;
  shown.parity = settings.parity;
  shown.stopBits = settings.stopBits;
  if (master.OpenPort(settings) != result::kOk) {
    Row("open:", "failed: " + OpenFailureDetail(master.LastOpenFailure()));
    return 1;
  }
  if (tcp) {
    Row("open:", "ok, connected");
  } else {
    Row("open:", "ok, " + std::to_string(settings.baudRate) + " " + LineCode(shown));
    PrintDriverState(master.PortDriverState());
  }

  const int first = a.address != 0 ? a.address : kFirstAddress;
  const int last = a.address != 0 ? a.address : kLastAddress;
  Row("probe:",
      "address " +
          (first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last)) +
          ", register " + std::to_string(kProbeRegister) + ", " + std::to_string(settings.timeoutMs) +
          " ms each");
  int answered = 0;
  bool counted = false;
  LineErrorCounts errors;
  for (int address = first; address <= last; ++address) {
    settings.slaveAddress = static_cast<std::uint8_t>(address);
    if (address != first && master.OpenPort(settings) != result::kOk) {
      Row("open:", "failed: " + OpenFailureDetail(master.LastOpenFailure()));
      return 1;
    }
    std::uint16_t value = 0;
    const std::int32_t r = master.ReadHoldingRegisters(kProbeRegister, 1, &value);
    if (const auto moved = master.LineErrorsOfLastRequest()) {
      counted = true;
      errors = {errors.frame + moved->frame, errors.parity + moved->parity, errors.overrun + moved->overrun,
                errors.brk + moved->brk};
    }
    master.ClosePort();
    if (r == result::kOk) {
      ++answered;
      Row("answers:", "address " + std::to_string(address) + " (register " + std::to_string(kProbeRegister) +
                          " = " + std::to_string(value) + ")");
    } else if (first == last) {
      Row("answers:", "address " + std::to_string(address) + ": " + std::to_string(r) + " " + ResultText(r));
    }
  }
  if (answered == 0 && first != last) {
    Row("answers:", "none: check the baud rate and parity, the A/B wiring, and that the device has power");
  }
  if (tcp) {
    // A gateway keeps its line's error counts to itself.
  } else if (!counted) {
    Row("line errors:", "not counted by this driver");
  } else {
    const std::string text = LineErrorsText(errors);
    Row("line errors:", text.empty() ? "none" : text);
  }
  return answered > 0 ? 0 : 1;
}

}  // namespace

void AddDiagCommand(CLI::App& app, std::function<int()>& run) {
  auto args = std::make_shared<DiagArgs>();
  CLI::App* diag = app.add_subcommand(
      "diag", "Report what the system says about a port, then probe addresses 1-126 (or --address) on it");
  AddLineOptions(*diag, args->line, /*needAddress=*/false);
  diag->add_option("--address", args->address, "Probe this address only (with --timeout)")
      ->check(CLI::Range(1, 247));
  AddSystemFolderOptions(*diag, args->folders);
  diag->callback([args, &run] { run = [args] { return RunDiag(*args); }; });
}

}  // namespace ktr::cli
