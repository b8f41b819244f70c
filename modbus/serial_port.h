// Serial line transport of the Modbus master: open a port by name with line
// settings and a time-out, write a frame, read a reply of a known length, close.
// The POSIX and Win32 implementations live in their own source files, chosen
// by the build; this header holds no OS types.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "result_code.h"
#include "transport.h"

namespace ktr {

// Line settings as the configuration stores them: parity 0 none, 1 odd,
// 2 even; stop bits 0 one, 1 one and a half, 2 two; data bits 5 to 8.
struct LineSettings {
  std::int32_t baudRate = 19200;
  std::uint8_t dataBits = 8;
  std::uint8_t stopBits = 0;
  std::uint8_t parity = 2;
  std::int32_t timeoutMs = 1000;
  // Let the kernel drive RTS as the RS-485 transmit enable (RTS on while
  // sending). Off: the port's RS-485 state stays as the system set it.
  bool rs485 = false;
};

// Stops a read early once the bytes received so far form a complete frame
// (used for exception replies, which are shorter than the expected reply).
using FrameComplete = bool (*)(const std::uint8_t* data, std::size_t received);

class SerialPort final : public Transport {
 public:
  // Open results, in the master's result codes.
  static constexpr int kOk = result::kOk;
  static constexpr int kFailed = result::kFailed;       // the port opened but cannot be set up
  static constexpr int kCannotOpen = result::kNotOpen;  // the device could not be opened at all

  SerialPort() = default;
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port for exclusive use and applies the settings. A name without
  // a path separator is looked up in the system's device folder. Returns kOk,
  // kCannotOpen when the device cannot be opened (missing, no access, held by
  // another program) or kFailed when the settings are refused; on any failure
  // the port is left closed. An open port is closed first.
  [[nodiscard]] int Open(const std::string& name, const LineSettings& line);

  void Close() override;
  bool IsOpen() const override { return handle_ != kInvalidHandle; }

  // Writes all bytes within the time-out. Returns true when all were written.
  [[nodiscard]] bool Write(const std::uint8_t* data, std::size_t length) override;

  // Reads until `length` bytes have arrived, `complete` (if given) accepts the
  // bytes so far, or the time-out has passed since the call began. Stores the
  // number of bytes read in *received. Returns false when the read itself
  // failed (not for a time-out).
  [[nodiscard]] bool Read(std::uint8_t* dest, std::size_t length, std::size_t* received,
                          FrameComplete complete = nullptr);

  // Waits until at least one byte has arrived or `deadline` has passed, then
  // takes what has arrived, up to `capacity` bytes; *received is 0 when the
  // deadline came first. For readers that judge the bytes as they come.
  // Returns false when the read itself failed.
  [[nodiscard]] bool ReadAvailable(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                                   std::chrono::steady_clock::time_point deadline) override;

  // Drops whatever has arrived and not been read yet.
  void DiscardInput() override;

  const SerialError& LastError() const override { return error_; }

  // Frames sent and bytes received go to `sink` as well (empty: none).
  void SetTrace(TraceSink sink) override { trace_ = std::move(sink); }
  // ReadAvailable leaves the trace to its caller, which reads a reply in
  // pieces and traces it whole: everything one reply wait received.
  void TraceReceived(const std::uint8_t* data, std::size_t length) override { Trace(false, data, length); }

  // How far the line-error counters moved since the last Write; empty when
  // the driver keeps no counters (a pseudo-terminal) or no Write was done.
  std::optional<LineErrorCounts> LineErrorsSinceWrite() override;

  // The driver's low-latency and RS-485 state of the open port.
  DriverState QueryDriverState() const override;

  // The device path that Open uses for a port name.
  static std::string DevicePath(const std::string& name);

 private:
  static constexpr std::intptr_t kInvalidHandle = -1;

  // The calling thread's last OS error: errno, or GetLastError() on Windows.
  static int LastOsError();
  // Records that `call` failed with the OS's `code`: the kind is the one
  // the code means (KindOf) unless given, the message the OS's text.
  void SetError(const char* call, int code = LastOsError()) { SetError(KindOf(code), call, code); }
  void SetError(SerialErrorKind kind, const char* call, int code = LastOsError());
  // Windows: a code means another kind on an open port (see KindOfError).
  SerialErrorKind KindOf(int code) const;
  // The counters now; false when the driver keeps none.
  [[nodiscard]] bool ReadLineErrors(LineErrorCounts* counts);
  void Trace(bool sent, const std::uint8_t* data, std::size_t length) const {
    if (trace_ && length > 0) trace_(sent, data, length);
  }
  // Traces the bytes moved so far when the operation returns, on every way
  // out (a write or read cut short traces what did get through).
  struct TraceOnReturn {
    const SerialPort& port;
    bool sent;
    const std::uint8_t* data;
    const std::size_t& moved;
    ~TraceOnReturn() { port.Trace(sent, data, moved); }
  };

  std::intptr_t handle_ = kInvalidHandle;
  std::int32_t timeoutMs_ = 1000;
  SerialError error_;
  TraceSink trace_;
  std::optional<LineErrorCounts> countsAtWrite_;
  LineErrorCounts commErrors_;  // Windows: error flags seen by ClearCommError
};

}  // namespace ktr
