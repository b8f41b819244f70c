// What the Modbus master needs of its link to the devices: a serial port or
// a TCP connection to a gateway. Each kind opens itself (the settings differ);
// after that the master writes request frames, reads what comes back against
// a deadline and drops what arrived unasked, the same way on every kind.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ktr {

// Why the last operation failed, mapped from errno / GetLastError() (and
// WSAGetLastError() for sockets).
enum class SerialErrorKind {
  None,
  NotFound,      // no such device
  Permission,    // access denied
  Busy,          // held by another program
  BadSettings,   // the line settings cannot be applied
  NotOpen,       // operation on a closed port
  Io,            // read or write failed
  Timeout,       // nothing (or not everything) arrived in time
  Disconnected,  // the device went away (hang-up), or the peer closed the connection
  BadAddress,    // the port name is no valid name or network address
  NoHost,        // the host name does not resolve
  Refused,       // nothing listens at that address and port
  Unreachable,   // no route to the host
  Protocol,      // the peer's bytes break the framing (a Modbus TCP header)
  Other,
};

struct SerialError {
  SerialErrorKind kind = SerialErrorKind::None;
  int osCode = 0;       // errno or GetLastError()
  std::string message;  // the OS's own text, with the call that failed
};

// The line-error counters of a UART (framing, parity, overrun, break), as
// the driver counts them since it was loaded.
struct LineErrorCounts {
  std::uint32_t frame = 0;
  std::uint32_t parity = 0;
  std::uint32_t overrun = 0;
  std::uint32_t brk = 0;
  bool operator==(const LineErrorCounts&) const = default;
};

// What the driver says about an open port; empty where it does not say.
struct DriverState {
  std::optional<bool> lowLatency;  // the driver passes received bytes on at once
  std::optional<bool> rs485;       // kernel RS-485 direction control enabled
  bool rs485RtsOnSend = false;     // with rs485: RTS high while sending
  bool rs485RxDuringTx = false;    // with rs485: the receiver hears our own frame
};

// Receives every frame written to the line (sent = true) and every chunk
// read from it, as the bytes went over the wire.
using TraceSink = std::function<void(bool sent, const std::uint8_t* data, std::size_t length)>;

class Transport {
 public:
  virtual ~Transport() = default;

  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Writes the whole request frame (Modbus RTU: address, PDU, CRC) within
  // the time-out. Returns true when all of it went out.
  [[nodiscard]] virtual bool Write(const std::uint8_t* data, std::size_t length) = 0;

  // Waits until at least one byte has arrived or `deadline` has passed, then
  // takes what has arrived, up to `capacity` bytes; *received is 0 when the
  // deadline came first. The bytes are in RTU form whatever the wire carries.
  // Returns false when the read itself failed.
  [[nodiscard]] virtual bool ReadAvailable(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                                           std::chrono::steady_clock::time_point deadline) = 0;

  // Drops whatever has arrived and not been read yet.
  virtual void DiscardInput() = 0;

  virtual const SerialError& LastError() const = 0;

  // Frames sent and bytes received go to `sink` as well (empty: none), as
  // they went over the wire.
  virtual void SetTrace(TraceSink sink) = 0;
  // ReadAvailable leaves the trace to its caller, which reads a reply in
  // pieces and traces it whole: everything one reply wait received (`data`
  // as ReadAvailable gave it).
  virtual void TraceReceived(const std::uint8_t* data, std::size_t length) = 0;

  // How far the line-error counters moved since the last Write; empty when
  // the link keeps no counters.
  virtual std::optional<LineErrorCounts> LineErrorsSinceWrite() { return std::nullopt; }
  // The driver's low-latency and RS-485 state; empty where there is none.
  virtual DriverState QueryDriverState() const { return {}; }
};

}  // namespace ktr
