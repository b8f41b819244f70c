#include "serial_port_text.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace ktr {
namespace {

std::string Plural(std::uint32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

std::string Hint(const SerialError& error) {
  switch (error.kind) {
    case SerialErrorKind::NotFound:
      return "the adapter is unplugged or the port has another name (ktr-cli ports lists them)";
    case SerialErrorKind::Permission:
      return "the user is not in group dialout (sudo usermod -aG dialout $USER, then log in again)";
    case SerialErrorKind::Busy:
      return "the port is held by another program (ModemManager, brltty, a terminal program or a "
             "second configurator); close it or stop that service";
    case SerialErrorKind::BadSettings:
      return "the port cannot take these line settings; choose others in the serial settings";
    case SerialErrorKind::Disconnected: return "the adapter was unplugged; plug it in again";
    case SerialErrorKind::NoHost: return "check the host name, or give the gateway's IP address";
    case SerialErrorKind::Refused:
      return "nothing accepts connections there: check the port number and that the gateway's TCP server is "
             "on";
    case SerialErrorKind::Unreachable: return "no route to the gateway: check its address and the network";
    case SerialErrorKind::Timeout:
      return "the gateway did not take the connection in time: it is off, the address is wrong, or a "
             "firewall drops the connection";
    default: return "";
  }
}

}  // namespace

std::string LineCode(const LineSettings& line) {
  static constexpr char kParity[] = "NOEMS";
  const char parity = line.parity < 5 ? kParity[line.parity] : '?';
  const char* stop = line.stopBits == 0 ? "1" : line.stopBits == 1 ? "1.5" : "2";
  return std::to_string(line.dataBits) + parity + stop;
}

std::string LineMismatch(const LineSettings& wanted, const LineSettings& got) {
  const long long w = wanted.baudRate;
  const bool baudOff = std::llabs(static_cast<long long>(got.baudRate) - w) * 100 > w * 3;
  if (!baudOff && LineCode(wanted) == LineCode(got)) return {};
  if (!baudOff) return "cannot do " + LineCode(wanted) + ", got " + LineCode(got);
  return "cannot do " + LineCode(wanted) + " at " + std::to_string(wanted.baudRate) + " baud, got " +
         LineCode(got) + " at " + std::to_string(got.baudRate) + " baud";
}

std::string OpenFailureDetail(const SerialError& error) {
  const std::string hint = Hint(error);
  std::string text = error.message.empty() ? "the port could not be opened" : error.message;
  if (!hint.empty()) text += ": " + hint;
  return text;
}

LineErrorCounts CountsMoved(const LineErrorCounts& before, const LineErrorCounts& after) {
  // The driver's counters only grow (unsigned, so a wrap still subtracts
  // right).
  return {after.frame - before.frame, after.parity - before.parity, after.overrun - before.overrun,
          after.brk - before.brk};
}

std::string LineErrorsText(const LineErrorCounts& moved) {
  std::vector<std::string> line;
  if (moved.frame != 0) line.push_back(Plural(moved.frame, "framing error", "framing errors"));
  if (moved.parity != 0) line.push_back(Plural(moved.parity, "parity error", "parity errors"));
  if (moved.brk != 0) line.push_back(Plural(moved.brk, "break", "breaks"));
  std::vector<std::string> lost;
  if (moved.overrun != 0) lost.push_back(Plural(moved.overrun, "overrun", "overruns"));
  std::string text;
  if (!line.empty()) text = Joined(line) + ": check baud rate, parity, A/B wiring";
  if (!lost.empty()) {
    text += (text.empty() ? "" : "; ") + Joined(lost) + ": bytes were lost in the computer";
  }
  return text;
}

std::string TraceLine(std::int64_t msOfDay, bool sent, const std::uint8_t* data, std::size_t length) {
  const std::int64_t ms = ((msOfDay % 86400000) + 86400000) % 86400000;
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000));
  std::string text = stamp;
  text += sent ? " TX" : " RX";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < length; ++i) {
    text += ' ';
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 0x0F];
  }
  return text;
}

}  // namespace ktr
