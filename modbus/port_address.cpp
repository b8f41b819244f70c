#include "port_address.h"

#include <cctype>

namespace ktr {
namespace {

struct Scheme {
  std::string_view prefix;  // lower case, "://" included
  std::uint8_t transport;
  bool portRequired;
  std::string_view form;  // for the error texts
};

constexpr Scheme kSchemes[] = {
    {"tcp://", kTransportModbusTcp, false, "tcp://HOST[:PORT]"},
    {"rtu+tcp://", kTransportRtuOverTcp, true, "rtu+tcp://HOST:PORT"},
};

// Longest host name DNS allows.
constexpr std::size_t kMaxHostLength = 253;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool HostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

// The first character of `text` that `allowed` refuses, shown for the
// error text: 'x', or its code for a control or non-ASCII byte.
std::string FirstBad(std::string_view text, bool (*allowed)(char)) {
  for (const char c : text) {
    if (allowed(c)) continue;
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte < 0x7F) return std::string("'") + c + "'";
    if (byte == ' ') return "a space";
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("byte 0x") + kHex[byte >> 4] + kHex[byte & 0x0F];
  }
  return {};
}

bool Ipv6Character(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
}

}  // namespace

PortAddress ParsePortAddress(std::string_view name) {
  PortAddress a;
  const std::size_t separator = name.find("://");
  if (separator == std::string_view::npos) return a;  // a serial port name

  const auto fail = [&a, name](const std::string& why) {
    a = PortAddress{};
    a.error = "bad port address '" + std::string(name) + "': " + why;
    return a;
  };
  const Scheme* scheme = nullptr;
  for (const Scheme& s : kSchemes) {
    if (separator + 3 == s.prefix.size() && StartsWithNoCase(name, s.prefix)) scheme = &s;
  }
  if (scheme == nullptr) {
    return fail("unknown scheme '" + std::string(name.substr(0, separator + 3)) +
                "' (use tcp://HOST[:PORT] for Modbus TCP or rtu+tcp://HOST:PORT for RTU over TCP)");
  }
  a.transport = scheme->transport;
  const std::string form(scheme->form);
  std::string_view rest = name.substr(scheme->prefix.size());

  // The host: "[IPv6]" or a name or IPv4 address up to the port's ':'.
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return fail("'[' without ']' around the IPv6 address");
    host = rest.substr(1, close - 1);
    if (host.empty()) return fail("no address between '[' and ']'");
    if (const std::string bad = FirstBad(host, Ipv6Character); !bad.empty()) {
      return fail(bad + " in the IPv6 address '" + std::string(host) + "'");
    }
    rest = rest.substr(close + 1);
    if (!rest.empty() && rest.front() != ':')
      return fail("'" + std::string(rest) + "' after the IPv6 address");
  } else {
    const std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon);
    if (rest.size() > 1 && rest.substr(1).find(':') != std::string_view::npos) {
      return fail("an IPv6 address goes in brackets, e.g. " + std::string(scheme->prefix) +
                  "[::1]:" + std::to_string(kModbusTcpPort));
    }
    if (host.empty()) return fail("no host name (" + form + ")");
    if (const std::string bad = FirstBad(host, HostCharacter); !bad.empty()) {
      return fail(bad + " in the host name '" + std::string(host) + "'");
    }
  }
  if (host.size() > kMaxHostLength) return fail("the host name is longer than 253 characters");
  a.host = std::string(host);

  // The port: ":1" to ":65535", or nothing (Modbus TCP only).
  if (rest.empty()) {
    if (scheme->portRequired) return fail("no port number (" + form + ")");
    a.tcpPort = kModbusTcpPort;
    return a;
  }
  const std::string_view digits = rest.substr(1);  // past the ':'
  if (digits.empty()) return fail("no port number after ':' (" + form + ")");
  unsigned long value = 0;
  for (const char c : digits) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
      return fail("port '" + std::string(digits) + "' is not a number (1-65535)");
    }
    if (value <= 65535) value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value == 0 || value > 65535) return fail("port " + std::string(digits) + " is out of range (1-65535)");
  a.tcpPort = static_cast<std::uint16_t>(value);
  return a;
}

std::string SetPortName(SerialSettings& settings, const std::string& name) {
  const PortAddress a = ParsePortAddress(name);
  settings.portName = name;
  settings.transport = a.transport;
  settings.host = a.host;
  settings.tcpPort = a.tcpPort;
  return a.error;
}

}  // namespace ktr
