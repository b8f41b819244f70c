#include "check_hint.h"

#include <regex>

#include "result_code.h"

namespace ktr::cli {

std::string CheckText(Check what) {
  switch (what) {
    case Check::kPort:
      return "check: the port name (ktr-cli ports lists the ports) and the adapter's cable, then run ktr-cli "
             "diag "
             "on the same port";
    case Check::kNoReply:
      return "check: the A/B wiring, the baud rate and parity (--baud, --parity) and the device address "
             "(--address), then run ktr-cli diag on the same port";
    case Check::kBadReply:
      return "check: the A/B wiring, the baud rate and parity (--baud, --parity) and the bus terminator, "
             "then run "
             "ktr-cli diag on the same port";
    case Check::kException:
      return "check: the device address (--address): another kind of device may answer there, or its "
             "firmware "
             "lacks these registers";
    case Check::kNoDevice:
      return "check: the A/B wiring, the baud rate and parity (--baud, --parity) and the power of the "
             "devices, "
             "then run ktr-cli diag on the same port";
    case Check::kFile:
      return "check: the file name, and that the file was written by ktr-cli backup or the Bus page's \"Save "
             "configuration to a file\" (docs/config-file.md)";
    case Check::kOutput: return "check: that the folder exists and that you may write there";
    case Check::kClock: return "check: this computer's date, or give the time with --time";
    case Check::kAddressInUse:
      return "check: a free address (ktr-cli scan --all lists the addresses that answer)";
  }
  return {};
}

std::string CheckForCode(std::int32_t code) {
  if (code == result::kOk) return {};
  if (code == result::kNotOpen) return CheckText(Check::kPort);
  if (code == result::kNoReply) return CheckText(Check::kNoReply);
  if (result::IsException(code)) return CheckText(Check::kException);
  return CheckText(Check::kBadReply);
}

std::string CheckForError(const std::string& error) {
  // The device layer words a failed request as "...: CODE MEANING".
  static const std::regex code(R"((?:^|: )(-\d+) )");
  std::smatch m;
  if (std::regex_search(error, m, code))
    return CheckForCode(static_cast<std::int32_t>(std::stol(m[1].str())));
  if (error.find("no KTR device") != std::string::npos) return CheckText(Check::kNoDevice);
  if (error.find("port") != std::string::npos) return CheckText(Check::kPort);
  return CheckText(Check::kNoReply);
}

void PrintCheck(std::FILE* to, const std::string& check, const std::string& prefix) {
  if (check.empty()) return;
  std::fprintf(to, "%s%s\n", prefix.c_str(), check.c_str());
}

}  // namespace ktr::cli
