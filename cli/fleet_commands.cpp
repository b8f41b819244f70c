#include "fleet_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "access_cycle.h"
#include "bus_inventory.h"
#include "check_hint.h"
#include "config_document.h"
#include "config_restore.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "process.h"
#include "register_table.h"
#include "trace.h"

namespace ktr::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct BackupArgs {
  LineOptions line;
  int address = 1;
  std::string output;
};

struct RestoreArgs {
  LineOptions line;
  std::vector<int> addresses;
  std::string file;
  bool dryRun = false;
  bool force = false;
};

struct SetTimeArgs {
  LineOptions line;
  std::vector<int> addresses;
  bool all = false;
  bool fromPc = false;
  std::string time;
  std::optional<int> zone;  // hours, -12 to 14
  std::string dst;          // "", "on" or "off"
};

struct ReportArgs {
  LineOptions line;
  std::vector<int> addresses;
  bool all = false;
  std::string output;
  std::string file;
};

struct SetAddressArgs {
  LineOptions line;
  int from = 1;
  int to = 0;
};

void LogLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

// One line on stderr that is rewritten in place, on a terminal only.
class ProgressLine {
 public:
  ProgressLine() : shown_(StderrIsTerminal()) {}
  ~ProgressLine() { Clear(); }
  void Show(const std::string& text) {
    if (!shown_) return;
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    dirty_ = true;
  }
  void Clear() {
    if (!dirty_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    dirty_ = false;
  }

 private:
  bool shown_;
  bool dirty_ = false;
};

double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// A device object for `address` on the line of the options.
std::unique_ptr<TKtrDevice> DeviceAt(TModbus& modbus, const LineOptions& line, int address) {
  auto device = std::make_unique<TKtrDevice>(modbus, LogLine, nullptr);
  SerialSettings s = ToSerialSettings(line);
  s.slaveAddress = static_cast<std::uint8_t>(address);
  device->SetSettings(s);
  return device;
}

std::string EntryLine(const InventoryEntry& e) {
  const std::string head = "address " + std::to_string(e.address);
  if (e.note.empty()) return head + " firmware " + e.firmware + " version " + VersionText(e.version);
  if (e.note.rfind("error: ", 0) == 0) return head + " answers but is no KTR device (" + e.note + ")";
  return head + " " + e.note;
}

// The inventory with a progress line; prints each device as its check ends.
InventoryResult Inventory(TKtrDevice& device, std::int32_t timeoutMs, bool print) {
  ProgressLine progress;
  InventoryCallbacks cb;
  cb.progress = [&progress](const InventoryProgress& p) {
    if (p.checking) {
      progress.Show("checking " + std::to_string(p.checked) + " of " + std::to_string(p.candidates.size()));
    } else {
      progress.Show("address " + std::to_string(p.position) + " of " + std::to_string(p.total) + ", " +
                    std::to_string(p.candidates.size()) + " answered");
    }
  };
  cb.found = [&progress, print](const InventoryEntry& e) {
    if (!print) return;
    progress.Clear();
    std::printf("%s\n", EntryLine(e).c_str());
    std::fflush(stdout);
  };
  InventoryResult result = RunInventory(device, timeoutMs, cb);
  progress.Clear();
  return result;
}

// The addresses of every KTR device on the bus (scan --all), or an error.
std::vector<int> AllDevices(TModbus& modbus, const LineOptions& line, std::string& error) {
  const auto bus = DeviceAt(modbus, line, 1);
  const InventoryResult inventory = Inventory(*bus, line.timeoutMs, false);
  std::vector<int> addresses;
  if (!inventory.error.empty()) {
    error = inventory.error;
    return addresses;
  }
  for (const InventoryEntry& e : inventory.devices) {
    if (e.note.empty()) addresses.push_back(e.address);
  }
  if (addresses.empty()) error = "no KTR device answers on addresses 1-126";
  return addresses;
}

// --all: the devices found into `addresses`; false after printing the error
// and what to check.
bool FindAllDevices(TModbus& modbus, const LineOptions& line, std::vector<int>& addresses) {
  std::string error;
  addresses = AllDevices(modbus, line, error);
  if (error.empty()) return true;
  std::fprintf(stderr, "error: %s\n", error.c_str());
  PrintCheck(stderr, CheckForError(error));
  return false;
}

int RunBackup(const BackupArgs& a) {
  TModbus modbus;
  AttachTrace(modbus);
  const auto device = DeviceAt(modbus, a.line, a.address);
  const auto t0 = Clock::now();
  const BackupResult backup = BackupDevice(*device);
  if (!backup.error.empty()) {
    // Nothing is written on a failed read: an old FILE stays as it was.
    std::fprintf(
        stderr, "error: address %d: %s; %s\n", a.address, backup.error.c_str(),
        a.output.empty() ? "nothing printed" : ("no file written, " + a.output + " unchanged").c_str());
    PrintCheck(stderr, CheckForError(backup.error));
    return 1;
  }
  const std::string text = ConfigurationJson(backup.configuration);
  if (a.output.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  } else {
    // Into a file beside it first, so that FILE is either the old file or
    // the whole new one.
    const std::string partial = a.output + ".partial";
    {
      std::ofstream out(partial, std::ios::binary | std::ios::trunc);
      out << text;
      out.close();
      if (!out) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        std::fprintf(stderr, "error: cannot write %s\n", partial.c_str());
        PrintCheck(stderr, CheckText(Check::kOutput));
        return 1;
      }
    }
    std::error_code ec;
    std::filesystem::rename(partial, a.output, ec);
    if (ec) {
      std::filesystem::remove(partial, ec);
      std::fprintf(stderr, "error: cannot write %s: %s\n", a.output.c_str(), ec.message().c_str());
      PrintCheck(stderr, CheckText(Check::kOutput));
      return 1;
    }
  }
  std::fprintf(stderr, "address %d: configuration read in %.2f s\n", a.address, SecondsSince(t0));
  return 0;
}

std::string Outcome(const ChangeResult& r) {
  switch (r.outcome) {
    case ChangeOutcome::kNotWritten: return "not written";
    case ChangeOutcome::kWritten: return r.verified ? "" : "written, not verified";
    case ChangeOutcome::kRefused:
      return "refused (" + std::to_string(r.code) + " " + ResultText(r.code) + ")";
    case ChangeOutcome::kFailed: return "failed (" + std::to_string(r.code) + " " + ResultText(r.code) + ")";
  }
  return {};
}

// Prints one device's restore; true when it was fully written and verified.
bool PrintRestore(const RestoreReport& r) {
  const std::string head = "address " + std::to_string(r.address) + ": ";
  if (!r.error.empty()) {
    std::printf("%serror: %s; nothing written\n", head.c_str(), r.error.c_str());
    PrintCheck(stdout, CheckForError(r.error), head);
    return false;
  }
  if (!r.refused.empty()) {
    std::printf("%srefused: %s\n", head.c_str(), r.refused.c_str());
    return false;
  }
  const std::size_t n = r.changes.size();
  if (r.dryRun) {
    std::printf("%s%zu difference%s (dry run: nothing written)\n", head.c_str(), n, n == 1 ? "" : "s");
    return true;
  }
  for (const ChangeResult& c : r.changes) {
    if (!c.change.writable) continue;  // shown with the differences
    const std::string outcome = Outcome(c);
    if (!outcome.empty()) std::printf("  %s: %s\n", c.change.name.c_str(), outcome.c_str());
  }
  if (!r.stopped.empty()) {
    std::printf("%sstopped at %s; nothing retried\n", head.c_str(), r.stopped.c_str());
    PrintCheck(stdout, CheckForError(r.stopped), head);
  }
  if (!r.verifyError.empty()) {
    std::printf("%sthe read-back failed: %s\n", head.c_str(), r.verifyError.c_str());
    PrintCheck(stdout, CheckForError(r.verifyError), head);
  }
  std::printf("%s%zu difference%s, %zu written, %zu verified, %zu refused\n", head.c_str(), n,
              n == 1 ? "" : "s", r.Count(ChangeOutcome::kWritten), r.Verified(),
              r.Count(ChangeOutcome::kRefused));
  return r.Ok();
}

// Reads and parses a configuration file; on failure prints why, with
// `consequence` after a parse error ("" or e.g. "; nothing written"), and
// what to check.
bool LoadConfigurationFile(const std::string& path, const char* consequence, DeviceConfiguration& file) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "error: cannot read %s\n", path.c_str());
    PrintCheck(stderr, CheckText(Check::kFile));
    return false;
  }
  try {
    file = ParseConfiguration(text.str());
  } catch (const ConfigFileError& e) {
    std::fprintf(stderr, "error: %s: %s%s\n", path.c_str(), e.what(), consequence);
    PrintCheck(stderr, CheckText(Check::kFile));
    return false;
  }
  return true;
}

int RunRestore(const RestoreArgs& a) {
  DeviceConfiguration file;
  if (!LoadConfigurationFile(a.file, "; nothing written", file)) return 1;

  if (!file.hasTime) {
    std::printf("%s: format version 1, without time zone and daylight saving: the devices keep theirs\n",
                a.file.c_str());
  }

  TModbus modbus;
  AttachTrace(modbus);
  bool ok = true;
  for (const int address : a.addresses) {
    const auto device = DeviceAt(modbus, a.line, address);
    ProgressLine progress;
    RestoreOptions options;
    options.dryRun = a.dryRun;
    options.force = a.force;
    options.differences = [address](const RestoreReport& r) {
      std::printf("address %d: firmware %s version %s\n", address, r.firmware.c_str(),
                  VersionText(r.firmwareVersion).c_str());
      for (const ChangeResult& c : r.changes) {
        std::printf("  %s: %s -> %s%s\n", c.change.name.c_str(), c.change.from.c_str(), c.change.to.c_str(),
                    c.change.writable ? "" : (" (not written: " + c.change.note + ")").c_str());
      }
      std::fflush(stdout);
    };
    options.progress = [&progress, address](std::size_t done, std::size_t total) {
      progress.Show("address " + std::to_string(address) + ": " + std::to_string(done) + " of " +
                    std::to_string(total) + " written");
    };
    const RestoreReport report = RestoreDevice(*device, file, options);
    progress.Clear();
    ok = PrintRestore(report) && ok;
    std::fflush(stdout);
  }
  return ok ? 0 : 1;
}

std::string ClockText(const ClockTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// "YYYY-MM-DD HH:MM:SS" (or with "T"), a real date and time of 2000-2099.
bool ParseClock(const std::string& text, ClockTime& t) {
  char sep = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &t.year, &t.month, &t.day, &sep, &t.hour,
                  &t.minute, &t.second, &tail) != 7 ||
      (sep != ' ' && sep != 'T')) {
    return false;
  }
  using namespace std::chrono;
  const year_month_day date{year{t.year}, month{static_cast<unsigned>(t.month)},
                            day{static_cast<unsigned>(t.day)}};
  return date.ok() && t.year >= 2000 && t.year <= 2099 && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// This computer's local time `ahead` from now, to the nearest second.
ClockTime PcTime(std::chrono::milliseconds ahead) {
  const auto at = std::chrono::system_clock::now() + ahead + std::chrono::milliseconds(500);
  const std::tm tm = LocalTime(std::chrono::system_clock::to_time_t(at));
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string ZoneText(std::uint16_t word) {
  const int hours = static_cast<std::int16_t>(word);
  return (hours > 0 ? "+" : "") + std::to_string(hours);
}

// The time zone and daylight saving as the Time page writes them (10026 and
// 10027, function 6 each), read back.
bool SetZone(TKtrDevice& device, int address, const SetTimeArgs& a) {
  std::vector<TKtrDevice::RegisterWrite> writes;
  if (a.zone) writes.push_back({table::kTimeZoneRegister, {static_cast<std::uint16_t>(*a.zone)}});
  if (!a.dst.empty())
    writes.push_back({table::kDstRegister, {static_cast<std::uint16_t>(a.dst == "on" ? 1 : 0)}});
  std::int32_t failed = result::kOk;
  if (!device.WriteRegisters(writes, [&failed](std::size_t, std::int32_t r) {
        failed = r;
        return r == result::kOk;
      })) {
    std::printf("address %d: error: the port could not be opened; zone not set\n", address);
    PrintCheck(stdout, CheckText(Check::kPort), "address " + std::to_string(address) + ": ");
    return false;
  }
  if (failed != result::kOk) {
    std::printf("address %d: error: zone and daylight saving: %d %s\n", address, failed,
                ResultText(failed).c_str());
    PrintCheck(stdout, CheckForCode(failed), "address " + std::to_string(address) + ": ");
    return false;
  }
  TKtrDevice::ConfigBlocks blocks;
  blocks.time = true;
  DeviceConfiguration back;
  if (const std::string error = device.ReadConfigurationBlocks(blocks, back); !error.empty()) {
    std::printf("address %d: zone written, the read-back failed: %s\n", address, error.c_str());
    return false;
  }
  const bool zoneOk = !a.zone || back.tz == static_cast<std::uint16_t>(*a.zone);
  const bool dstOk = a.dst.empty() || back.dst == (a.dst == "on" ? 1 : 0);
  std::printf("address %d: time zone %s, daylight saving %s%s\n", address, ZoneText(back.tz).c_str(),
              back.dst == 0   ? "off"
              : back.dst == 1 ? "on"
                              : std::to_string(back.dst).c_str(),
              zoneOk && dstOk ? "" : " (not verified: the device holds other values)");
  std::fflush(stdout);
  return zoneOk && dstOk;
}

int RunSetTime(const SetTimeArgs& a) {
  ClockTime fixed;
  if (!a.time.empty()) ParseClock(a.time, fixed);  // checked when parsing
  if (a.time.empty()) {
    const int year = PcTime({}).year;
    if (year < 2000 || year > 2099) {
      std::fprintf(stderr, "error: this computer's year %d is outside the device's 2000-2099\n", year);
      PrintCheck(stderr, CheckText(Check::kClock));
      return 1;
    }
  }

  TModbus modbus;
  AttachTrace(modbus);
  std::vector<int> addresses = a.addresses;
  if (a.all && !FindAllDevices(modbus, a.line, addresses)) return 1;
  bool ok = true;
  for (const int address : addresses) {
    const auto device = DeviceAt(modbus, a.line, address);
    const auto timeAt = [&a, &fixed](std::chrono::milliseconds ahead) {
      return a.time.empty() ? PcTime(ahead) : fixed;
    };
    const TKtrDevice::ClockReport r = device->SetClock(timeAt);
    if (!r.failure.empty()) {
      std::printf("address %d: error: %s\n", address, r.failure.c_str());
      PrintCheck(stdout, CheckForError(r.failure), "address " + std::to_string(address) + ": ");
      ok = false;
      continue;
    }
    std::printf("address %d: clock set to %s, reads %s%s\n", address, ClockText(r.written).c_str(),
                ClockText(r.read).c_str(), r.verified ? "" : " (not verified: the clock runs otherwise)");
    std::fflush(stdout);
    ok = ok && r.verified;
    if (a.zone || !a.dst.empty()) ok = SetZone(*device, address, a) && ok;
  }
  return ok ? 0 : 1;
}

// "4" or "4,5,6": addresses 1-247, each once. One argument, so that a
// FILE after it is not taken for an address.
bool ParseAddressList(const std::string& text, std::vector<int>& out, std::string& error) {
  out.clear();
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string piece = text.substr(at, comma - at);
    int value = 0;
    if (piece.empty() || piece.size() > 3 || piece.find_first_not_of("0123456789") != std::string::npos ||
        (value = std::stoi(piece)) < 1 || value > 247) {
      error = "expected addresses 1 to 247 as A or A,B,..., got " + text;
      return false;
    }
    if (std::find(out.begin(), out.end(), value) != out.end()) {
      error = "address " + piece + " given twice";
      return false;
    }
    out.push_back(value);
    at = comma + 1;
  }
  return true;
}

CLI::Option* AddAddressList(CLI::App& command, std::vector<int>& addresses) {
  return command
      .add_option_function<std::string>(
          "--address",
          [&addresses](const std::string& text) {
            std::string error;
            if (!ParseAddressList(text, addresses, error)) throw CLI::ValidationError("--address", error);
          },
          "Device addresses, A or A,B,...")
      ->type_name("A[,B,...]");
}

// Who answers at `address`: "" when nobody, else its firmware text and
// version.
struct Presence {
  bool answers = false;
  std::string firmware;
  std::uint32_t version = 0;
  std::int32_t code = 0;
};

Presence Look(TKtrDevice& bus, int address, std::int32_t timeoutMs) {
  Presence p;
  p.code = bus.ReadFirmwareAt(static_cast<std::uint8_t>(address), timeoutMs, p.firmware, p.version);
  // An exception is an answer too: some device holds the address.
  p.answers = p.code == result::kOk || result::IsException(p.code);
  return p;
}

std::string Named(const Presence& p) {
  return p.code == result::kOk ? p.firmware + " " + VersionText(p.version)
                               : "no KTR device: " + std::to_string(p.code) + " " + ResultText(p.code);
}

// A new device (factory address 1) to address `to`: the address setting
// written as the Device page writes it, then who answers where.
int RunSetAddress(const SetAddressArgs& a) {
  TModbus modbus;
  AttachTrace(modbus);
  const auto bus = DeviceAt(modbus, a.line, a.from);
  const std::int32_t timeout = a.line.timeoutMs;
  const std::string from = "address " + std::to_string(a.from);
  const std::string to = "address " + std::to_string(a.to);

  if (const Presence target = Look(*bus, a.to, timeout); target.answers) {
    std::fprintf(stderr,
                 "error: %s already answers (%s); nothing written. Two devices on one address cannot be told "
                 "apart: choose another address.\n",
                 to.c_str(), Named(target).c_str());
    PrintCheck(stderr, CheckText(Check::kAddressInUse));
    return 1;
  }
  const Presence device = Look(*bus, a.from, timeout);
  if (device.code != result::kOk) {
    std::fprintf(stderr,
                 "error: %s: %s; nothing written. Connect the new device (it answers on address 1 "
                 "from the factory) and check with ktr-cli scan --all.\n",
                 from.c_str(),
                 device.answers ? Named(device).c_str()
                                : ("does not answer (" + std::to_string(device.code) + " " +
                                   ResultText(device.code) + ")")
                                      .c_str());
    PrintCheck(stderr, device.answers ? CheckText(Check::kException) : CheckForCode(device.code));
    return 1;
  }
  std::printf("%s: %s\n", from.c_str(), Named(device).c_str());

  std::int32_t written = result::kOk;
  const std::vector<TKtrDevice::RegisterWrite> writes{
      {table::kDiadRegister, {static_cast<std::uint16_t>(a.to)}}};
  if (!bus->WriteRegisters(writes, [&written](std::size_t, std::int32_t r) {
        written = r;
        return true;
      })) {
    std::fprintf(stderr, "error: the port could not be opened; nothing written\n");
    PrintCheck(stderr, CheckText(Check::kPort));
    return 1;
  }
  if (written == result::kOk) {
    std::printf("%s: address setting %d written\n", from.c_str(), a.to);
  } else {
    // A device that moves at once may answer the write from its new address
    // or not at all: where it answers now tells.
    std::printf("%s: the write of address setting %d got %d %s\n", from.c_str(), a.to, written,
                ResultText(written).c_str());
  }
  std::fflush(stdout);

  const Presence atNew = Look(*bus, a.to, timeout);
  const Presence atOld = Look(*bus, a.from, timeout);
  if (atNew.answers) {
    std::printf(
        "%s answers (%s)%s. Done: connect the next new device and run this again with the next "
        "address.\n",
        to.c_str(), Named(atNew).c_str(), atOld.answers ? (", and " + from + " too").c_str() : "");
    return 0;
  }
  if (atOld.answers) {
    std::printf(
        "%s does not answer yet; the device still answers on %s. It takes its new address after "
        "\"Apply configuration\" (ktr-cli write --port PORT --address %d 10080 21845, or the Bus page) "
        "or when it is powered again; then check with ktr-cli scan --all.\n",
        to.c_str(), from.c_str(), a.from);
    return 1;
  }
  std::printf("neither %s nor %s answers: check the wiring and the line settings, then ktr-cli scan --all.\n",
              to.c_str(), from.c_str());
  return 1;
}

// Writes `text` to `path` through a file beside it, so that the file is
// either the old one or the whole new one. "" or why not.
std::string WriteWhole(const std::string& path, const std::string& text) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(partial, ignored);
      return "cannot write " + partial;
    }
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    return "cannot write " + path + ": " + ec.message();
  }
  return {};
}

// One row of the commissioning report.
struct ReportRow {
  int address = 0;
  std::string firmware, version, clock, clockSet, file, applied, verified, time;
};

const std::vector<std::string> kReportColumns{"address", "firmware",  "version",
                                              "clock",   "clock set", "configuration file",
                                              "applied", "verified",  "time"};

std::vector<std::string> Cells(const ReportRow& r) {
  return {std::to_string(r.address),
          r.firmware,
          r.version,
          r.clock,
          r.clockSet,
          r.file,
          r.applied,
          r.verified,
          r.time};
}

std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string HtmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// CSV with a header row (RFC 4180: CRLF, quoted where needed), which a
// spreadsheet opens.
std::string ReportCsv(const std::vector<ReportRow>& rows) {
  std::string out;
  const auto line = [&out](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) out += (i ? "," : "") + CsvCell(cells[i]);
    out += "\r\n";
  };
  line(kReportColumns);
  for (const ReportRow& r : rows) line(Cells(r));
  return out;
}

// A page to print.
std::string ReportHtml(const std::vector<ReportRow>& rows, const std::string& port) {
  std::string out =
      "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Commissioning report</title>\n<style>\nbody { font-family: sans-serif; margin: 2em; }\n"
      "table { border-collapse: collapse; }\nth, td { border: 1px solid #888; padding: 0.3em 0.6em; "
      "text-align: left; }\n</style>\n</head>\n<body>\n<h1>Commissioning report</h1>\n<p>Bus " +
      HtmlText(port) + ", " + std::to_string(rows.size()) + " device" + (rows.size() == 1 ? "" : "s") +
      ".</p>\n<table>\n<thead><tr>";
  for (const std::string& c : kReportColumns) out += "<th>" + HtmlText(c) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (const ReportRow& r : rows) {
    out += "<tr>";
    for (const std::string& c : Cells(r)) out += "<td>" + HtmlText(c) + "</td>";
    out += "</tr>\n";
  }
  return out + "</tbody>\n</table>\n</body>\n</html>\n";
}

// The device clock as the time endpoint gives it: "YYYY-MM-DD HH:MM:SS".
bool DeviceClock(TKtrDevice& device, ClockTime& t) {
  BeginDeviceStatus();
  const std::string json = device.GetTimeData();
  const bool ok = TakeDeviceStatus() == "ok";
  const std::size_t date = json.find("\"date\":\"");
  const std::size_t time = json.find("\"time\":\"");
  return ok && date != std::string::npos && time != std::string::npos &&
         std::sscanf(json.c_str() + date + 8, "%4d-%2d-%2d", &t.year, &t.month, &t.day) == 3 &&
         std::sscanf(json.c_str() + time + 8, "%2d:%2d:%2d", &t.hour, &t.minute, &t.second) == 3;
}

std::int64_t Seconds(const ClockTime& t) {
  using namespace std::chrono;
  const sys_days day = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                      std::chrono::day{static_cast<unsigned>(t.day)}};
  return day.time_since_epoch().count() * 86400LL + t.hour * 3600LL + t.minute * 60LL + t.second;
}

ReportRow ReportOn(TKtrDevice& device, int address, const DeviceConfiguration* file,
                   const std::string& fileName, bool& ok) {
  ReportRow row;
  row.address = address;
  std::string firmware;
  std::uint32_t version = 0;
  const SerialSettings s = device.Settings();
  if (const std::int32_t r = device.ReadFirmwareAt(s.slaveAddress, s.timeoutMs, firmware, version);
      r != result::kOk) {
    row.firmware = "does not answer (" + std::to_string(r) + " " + ResultText(r) + ")";
    row.clockSet = row.applied = row.verified = "no";
    row.file = fileName;
    row.time = ClockText(PcTime({}));
    ok = false;
    return row;
  }
  device.SetFirmware(firmware, version);
  row.firmware = firmware;
  row.version = VersionText(version);

  ClockTime clock;
  if (DeviceClock(device, clock)) {
    const std::int64_t off = Seconds(clock) - Seconds(PcTime({}));
    row.clock = ClockText(clock);
    // Within 2 s of this computer's clock, as set-time verifies it.
    row.clockSet = off >= -2 && off <= 2
                       ? "yes"
                       : "no (" + std::string(off > 0 ? "+" : "") + std::to_string(off) + " s)";
  } else {
    row.clockSet = "no (not read)";
  }
  ok = ok && row.clockSet == "yes";

  if (file != nullptr) {
    row.file = fileName;
    RestoreOptions compare;
    compare.dryRun = true;
    const RestoreReport r = RestoreDevice(device, *file, compare);
    std::size_t differ = 0;
    for (const ChangeResult& c : r.changes) differ += c.change.writable ? 1 : 0;
    if (!r.error.empty()) {
      row.applied = row.verified = "no (" + r.error + ")";
    } else if (!r.refused.empty()) {
      row.applied = row.verified = "no (" + r.refused + ")";
    } else if (differ > 0) {
      row.applied = "no (" + std::to_string(differ) + " difference" + (differ == 1 ? "" : "s") + ")";
      row.verified = "no";
    } else {
      // Read back now: the device holds every value of the file.
      row.applied = row.verified = "yes";
    }
    ok = ok && row.verified == "yes";
  }
  row.time = ClockText(PcTime({}));
  return row;
}

int RunReport(const ReportArgs& a) {
  DeviceConfiguration file;
  if (!a.file.empty() && !LoadConfigurationFile(a.file, "", file)) return 2;
  TModbus modbus;
  AttachTrace(modbus);
  std::vector<int> addresses = a.addresses;
  if (a.all && !FindAllDevices(modbus, a.line, addresses)) return 1;
  std::vector<ReportRow> rows;
  bool ok = true;
  const std::string fileName = std::filesystem::path(a.file).filename().string();
  for (const int address : addresses) {
    const auto device = DeviceAt(modbus, a.line, address);
    rows.push_back(ReportOn(*device, address, a.file.empty() ? nullptr : &file, fileName, ok));
    std::fprintf(stderr, "address %d: %s\n", address, rows.back().firmware.c_str());
  }
  const bool html = a.output.size() > 5 && a.output.compare(a.output.size() - 5, 5, ".html") == 0;
  const std::string text = html ? ReportHtml(rows, a.line.port) : ReportCsv(rows);
  if (a.output.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else if (const std::string error = WriteWhole(a.output, text); !error.empty()) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    PrintCheck(stderr, CheckText(Check::kOutput));
    return 1;
  } else {
    std::fprintf(stderr, "report of %zu device%s written to %s\n", rows.size(), rows.size() == 1 ? "" : "s",
                 a.output.c_str());
  }
  return ok ? 0 : 1;
}

}  // namespace

int RunScanAll(const LineOptions& line) {
  TModbus modbus;
  AttachTrace(modbus);
  const auto device = DeviceAt(modbus, line, 1);
  const auto t0 = Clock::now();
  const InventoryResult result = Inventory(*device, line.timeoutMs, true);
  if (!result.error.empty()) {
    std::fprintf(stderr, "error: %s\n", result.error.c_str());
    PrintCheck(stderr, CheckForError(result.error));
    return 1;
  }
  const std::size_t n = result.devices.size();
  std::fprintf(stderr, "%zu %s on addresses %d-%d (%.1f s)\n", n,
               n == 1 ? "device answers" : "devices answer", kInventoryFirstAddress, kInventoryLastAddress,
               SecondsSince(t0));
  if (n == 0) PrintCheck(stderr, CheckText(Check::kNoDevice));
  return result.devices.empty() ? 1 : 0;
}

void AddFleetCommands(CLI::App& app, std::function<int()>& run) {
  auto backupArgs = std::make_shared<BackupArgs>();
  CLI::App* backup =
      app.add_subcommand("backup", "Read a device's configuration into a file (docs/config-file.md)");
  AddLineOptions(*backup, backupArgs->line, /*needAddress=*/false);
  backup->add_option("--address", backupArgs->address, "Device address")
      ->capture_default_str()
      ->check(CLI::Range(1, 247));
  backup->add_option("-o,--output", backupArgs->output, "File to write (default: stdout)");
  backup->callback([backupArgs, &run] { run = [backupArgs] { return RunBackup(*backupArgs); }; });

  auto restoreArgs = std::make_shared<RestoreArgs>();
  CLI::App* restore = app.add_subcommand(
      "restore", "Write a configuration file into one or several devices: only what differs, read back");
  AddLineOptions(*restore, restoreArgs->line, /*needAddress=*/false);
  AddAddressList(*restore, restoreArgs->addresses)->required();
  restore->add_option("FILE", restoreArgs->file, "Configuration file (from backup or the Bus page)")
      ->required();
  restore->add_flag("--dry-run", restoreArgs->dryRun, "Print the differences, write nothing");
  restore->add_flag("--force", restoreArgs->force,
                    "Write even into a device whose firmware differs from the file's");
  restore->callback([restoreArgs, &run] { run = [restoreArgs] { return RunRestore(*restoreArgs); }; });

  auto setArgs = std::make_shared<SetTimeArgs>();
  CLI::App* setTime = app.add_subcommand("set-time", "Set the clock of one, several or all devices");
  AddLineOptions(*setTime, setArgs->line, /*needAddress=*/false);
  auto* addresses = AddAddressList(*setTime, setArgs->addresses);
  auto* all = setTime->add_flag("--all", setArgs->all, "Every KTR device on the bus (scan --all first)");
  addresses->excludes(all);
  auto* fromPc = setTime->add_flag("--from-pc", setArgs->fromPc, "This computer's local time (the default)");
  auto* fixed =
      setTime->add_option("--time", setArgs->time, "\"YYYY-MM-DD HH:MM:SS\" instead of the computer's time")
          ->check([](const std::string& text) {
            ClockTime t;
            return ParseClock(text, t) ? std::string()
                                       : "expected \"YYYY-MM-DD HH:MM:SS\" of 2000-2099, got " + text;
          });
  fromPc->excludes(fixed);
  setTime
      ->add_option("--zone", setArgs->zone,
                   "The time zone too, in hours (-12 to 14), as the Time page sets it")
      ->check(CLI::Range(-12, 14));
  setTime->add_option("--dst", setArgs->dst, "Daylight saving too: on or off")
      ->check(CLI::IsMember({"on", "off"}));
  auto reportArgs = std::make_shared<ReportArgs>();
  CLI::App* report = app.add_subcommand(
      "report", "Commissioning report: per device its firmware, clock and configuration, as CSV (or .html)");
  AddLineOptions(*report, reportArgs->line, /*needAddress=*/false);
  auto* reportAddresses = AddAddressList(*report, reportArgs->addresses);
  auto* reportAll =
      report->add_flag("--all", reportArgs->all, "Every KTR device on the bus (scan --all first)");
  reportAddresses->excludes(reportAll);
  report->add_option("-o,--output", reportArgs->output,
                     "File to write: CSV, or a page to print when it ends in .html "
                     "(default: CSV on stdout)");
  report->add_option("--file", reportArgs->file,
                     "Configuration file the devices should hold (applied and verified)");
  report->callback([reportArgs, &run] {
    if (reportArgs->addresses.empty() && !reportArgs->all) throw CLI::RequiredError("--address or --all");
    run = [reportArgs] { return RunReport(*reportArgs); };
  });

  auto addressArgs = std::make_shared<SetAddressArgs>();
  CLI::App* setAddress = app.add_subcommand(
      "set-address", "Give a new device (factory address 1) its bus address, then check where it answers");
  AddLineOptions(*setAddress, addressArgs->line, /*needAddress=*/false);
  setAddress->add_option("--from", addressArgs->from, "The address the device answers on now")
      ->capture_default_str()
      ->check(CLI::Range(1, 247));
  setAddress->add_option("--to", addressArgs->to, "Its new address, 1-247, not in use")
      ->required()
      ->check(CLI::Range(1, 247));
  setAddress->callback([addressArgs, &run] {
    if (addressArgs->from == addressArgs->to) {
      throw CLI::ValidationError("--to", "the new address is the one it has");
    }
    run = [addressArgs] { return RunSetAddress(*addressArgs); };
  });

  setTime->callback([setArgs, &run] {
    if (setArgs->addresses.empty() && !setArgs->all) throw CLI::RequiredError("--address or --all");
    run = [setArgs] { return RunSetTime(*setArgs); };
  });
}

}  // namespace ktr::cli
