#include "line_options.h"

#include <tuple>

#include "port_address.h"

namespace ktr::cli {

void AddLineOptions(CLI::App& command, LineOptions& o, bool needAddress) {
  command
      .add_option(
          "--port", o.port,
          "Serial port (e.g. ttyUSB0, /dev/ttyUSB0 or COM3; ktr-cli ports lists them), or a gateway:\n"
          "tcp://HOST[:PORT] (Modbus TCP, port 502 by default) or rtu+tcp://HOST:PORT (RTU frames\n"
          "over TCP)")
      ->required()
      ->check(CLI::Validator(
          [](std::string& name) {
            // A malformed address is refused here, before anything is sent.
            return ParsePortAddress(name).error;
          },
          "PORT", "port name"));
  if (needAddress) {
    command.add_option("--address", o.address, "Modbus device address")
        ->capture_default_str()
        ->check(CLI::Range(1, 247));
  }
  command.add_option("--baud", o.baud, "Baud rate")->capture_default_str()->check(CLI::PositiveNumber);
  command.add_option("--parity", o.parity, "Parity")
      ->capture_default_str()
      ->check(CLI::IsMember({"none", "odd", "even"}));
  command.add_option("--stop", o.stop, "Stop bits (1.5 only with 5 data bits)")
      ->capture_default_str()
      ->check(CLI::IsMember({"1", "1.5", "2"}));
  command.add_option("--data", o.data, "Data bits")->capture_default_str()->check(CLI::Range(5, 8));
  command.add_option("--timeout", o.timeoutMs, "Reply time-out in milliseconds")
      ->capture_default_str()
      ->check(CLI::Range(1, 600000));
  command.add_flag(
      "--rs485", o.rs485,
      "Let the kernel drive RTS as the RS-485 transmit enable (on-board UARTs with a transceiver; "
      "USB adapters switch by themselves)");
  command
      .add_option("--echo", o.echo,
                  "Does the line return each request before the reply (an adapter without echo "
                  "suppression): auto (learn it from the replies), on or off")
      ->capture_default_str()
      ->check(CLI::IsMember({"auto", "on", "off"}));
}

SerialSettings ToSerialSettings(const LineOptions& o) {
  SerialSettings s;
  std::ignore = SetPortName(s, o.port);  // checked when parsing
  s.baudRate = o.baud;
  s.parity = static_cast<std::uint8_t>(o.parity == "none" ? 0 : o.parity == "odd" ? 1 : 2);
  s.stopBits = static_cast<std::uint8_t>(o.stop == "1" ? 0 : o.stop == "1.5" ? 1 : 2);
  s.dataBits = static_cast<std::uint8_t>(o.data);
  s.timeoutMs = o.timeoutMs;
  s.slaveAddress = static_cast<std::uint8_t>(o.address);
  s.rs485 = o.rs485;
  s.echo = o.echo == "on" ? EchoMode::On : o.echo == "off" ? EchoMode::Off : EchoMode::Auto;
  return s;
}

}  // namespace ktr::cli
