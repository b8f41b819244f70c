// TModbus: the Modbus RTU master. One worker thread owns the link to the
// devices (a serial line, or a TCP connection to a gateway: see
// port_address.h and tcp_link.h) and executes one request at a time for the
// other threads. A requester writes the request's parameters, stores the
// command word and blocks until the worker sets the word back to
// CommandIdle; then it takes the result code.
//
// Every request returns one of the result codes of result_code.h: result::kOk,
// kFailed, kNotOpen, kNoReply or result::Exception(code).
//
// A reply counts only if it is this request's (address, function, byte count
// or write fields); other frames on the line are dropped and reading goes on
// until the deadline: the time-out plus the wire time of request and reply.
// A request waits for 3.5 quiet character times after the last byte
// received. The line's echo of the request is dropped (see EchoMode).
// Modbus TCP frames come whole and carry a transaction id: there the reply
// is matched by id, and there is no quiet time and no echo to learn.
//
// Callers serialise themselves (one request at a time): take the device
// mutex, OpenPort, reads and writes, ClosePort, release.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "port_address.h"
#include "result_code.h"
#include "rtu_frame.h"
#include "serial_port.h"
#include "serial_settings.h"
#include "tcp_link.h"
#include "word_wait.h"

namespace ktr {

namespace test {
struct MasterTestAccess;  // tests/support/master_test_access.h
}

// What went wrong with the last request, finer than its result code:
// kFailed covers both a port that failed and a reply whose CRC was wrong.
enum class RequestFailure {
  None,       // the request succeeded
  Port,       // no open port, the open failed, or the port failed to write or read
  NoReply,    // nothing, or not all of the reply, came in time (only the echo
              // or other devices' frames, perhaps)
  BadReply,   // a full reply with a wrong CRC (kFailed), or noise and no reply (kNoReply)
  Exception,  // the device answered with an exception
  Refused,    // the request did not fit a frame; nothing was sent
};

class TModbus {
 public:
  static constexpr std::uint16_t CommandIdle = 0xFFFF;
  static constexpr std::uint16_t CommandOpen = 256;
  static constexpr std::uint16_t CommandClose = 257;

  TModbus();
  // Stops and joins the worker, then closes the port if still open.
  ~TModbus();
  TModbus(const TModbus&) = delete;
  TModbus& operator=(const TModbus&) = delete;

  // Request operations; each blocks until the worker has executed it.
  [[nodiscard]] std::int32_t OpenPort(const SerialSettings& settings);
  std::int32_t ClosePort();
  [[nodiscard]] std::int32_t ReadHoldingRegisters(std::uint16_t start, std::uint16_t count,
                                                  std::uint16_t* destination);
  [[nodiscard]] std::int32_t ReadInputRegisters(std::uint16_t start, std::uint16_t count,
                                                std::uint16_t* destination);
  [[nodiscard]] std::int32_t WriteSingleRegister(std::uint16_t address, std::uint16_t value);
  [[nodiscard]] std::int32_t WriteMultipleRegisters(std::uint16_t start, std::uint16_t count,
                                                    const std::uint16_t* source);
  // Coil functions; `bits` is packed eight to a byte as on the wire.
  [[nodiscard]] std::int32_t ReadCoils(std::uint16_t start, std::uint16_t count, std::uint8_t* bits);
  [[nodiscard]] std::int32_t ReadDiscreteInputs(std::uint16_t start, std::uint16_t count, std::uint8_t* bits);
  [[nodiscard]] std::int32_t WriteSingleCoil(std::uint16_t address, std::uint16_t value);
  [[nodiscard]] std::int32_t WriteMultipleCoils(std::uint16_t start, std::uint16_t count,
                                                const std::uint8_t* bits);

  // While a read waits for a quiet line before it is sent (an unanswered
  // request's reply could still come and pass for its own), `check` is asked
  // every few milliseconds; when it returns true the read gives way: it
  // returns kGaveWay and sends nothing. For a caller with more urgent
  // requests waiting (a save behind a page's read of a silent device). Set
  // it before the read and clear it after; empty, reads never give way.
  void SetGiveWay(std::function<bool()> check) { giveWay_ = std::move(check); }

  // Posts a raw command word and waits for it; a value that is no command
  // returns the word to idle and leaves the last result as it was.
  [[nodiscard]] std::int32_t PostCommand(std::uint16_t command);

  // The OS's reason for the last failed open, for messages to the operator.
  std::string LastOpenError() const;
  // The same with its kind, for the hints a failed open logs.
  const SerialError& LastOpenFailure() const { return lastOpenFailure_; }

  // Pass-throughs to the link, under the same serialisation as a request.
  // Every frame sent and every chunk received also goes to `sink`; set it
  // before the first request.
  void SetTrace(TraceSink sink) {
    tcp_.SetTrace(sink);
    port.SetTrace(std::move(sink));
  }
  // How far the line-error counters moved during the last request; empty
  // when the driver keeps none (and on TCP). Ask before ClosePort.
  std::optional<LineErrorCounts> LineErrorsOfLastRequest() { return link_->LineErrorsSinceWrite(); }
  // The driver's state of the open port (empty on TCP).
  DriverState PortDriverState() const { return link_->QueryDriverState(); }
  // Why the link's last operation failed (a request's write or read); read
  // it like LastFailure.
  const SerialError& LastLinkError() const { return link_->LastError(); }

  // What went wrong with the last request (None after a success). Read it
  // right after the request, under the same serialisation as the request.
  RequestFailure LastFailure() const { return failure_; }
  // Bytes the line delivered while the last request waited for its reply,
  // the echo of the request not counted: 0 when nothing came, more when a
  // reply, a cut one or noise came. Read it like LastFailure.
  std::size_t LastReplyBytes() const { return replyBytes_; }

 private:
  friend struct test::MasterTestAccess;

  void Execute();  // thread body
  [[nodiscard]] std::int32_t Run(std::uint16_t command);

  [[nodiscard]] std::int32_t OpenSerial();
  std::int32_t CloseSerial();
  // The serial line and RTU over TCP carry RTU framing timed by silence:
  // quiet time, late replies. Modbus TCP frames are delimited by their
  // length and matched by transaction id.
  bool LineTiming() const { return settings.transport != kTransportModbusTcp; }
  bool SerialLine() const { return settings.transport == kTransportSerial; }
  // Whether the line of the open port echoes requests: learned in auto mode.
  enum class Echo : std::uint8_t { Unknown, Yes, No };
  Echo& LineEcho();
  rtu::EchoRule EchoRuleFor(std::uint8_t function);
  void LearnEchoBeforeWrite(std::uint8_t readFunction);

  [[nodiscard]] std::int32_t SendFrame(std::size_t length, std::size_t expected);
  [[nodiscard]] std::int32_t ReceiveFrame(std::size_t expected, rtu::EchoRule echo);
  [[nodiscard]] std::int32_t Exchange(std::size_t length, std::size_t expected, std::uint8_t function);
  [[nodiscard]] bool DropLateReply();
  void NoteLateReply(bool answered, std::optional<std::chrono::steady_clock::time_point> lateFrameAt);
  void NoteLateFrame(std::uint8_t address, std::chrono::steady_clock::time_point at);
  void WaitForQuietLine();
  [[nodiscard]] std::int32_t ExecuteRead(std::uint8_t function);
  [[nodiscard]] std::int32_t ExecuteWriteSingle(std::uint8_t function);
  [[nodiscard]] std::int32_t ExecuteWriteMultiple(std::uint8_t function);
  void ClearBuffers();

  std::array<std::uint8_t, rtu::kFrameBufferSize> txBuffer{};
  std::array<std::uint8_t, rtu::kFrameBufferSize> rxBuffer{};
  SerialPort port;
  TcpLink tcp_;
  Transport* link_ = &port;  // the one of the two that the last open chose
  SerialSettings settings;
  std::uint16_t startAddress = 0;
  std::uint16_t count = 0;
  std::uint16_t value = 0;
  CommandWord command{CommandIdle};
  std::uint16_t* registers = nullptr;
  std::uint8_t* bits = nullptr;
  std::int32_t result = 0;
  RequestFailure failure_ = RequestFailure::None;
  std::size_t replyBytes_ = 0;
  RequestFailure pendingFailure_ = RequestFailure::None;     // set on the kFailed paths of a request
  RequestFailure noReplyFailure_ = RequestFailure::NoReply;  // set on the kNoReply paths

  std::string lastOpenError_;  // written by the worker, read after a request
  SerialError lastOpenFailure_;
  // What the line delivered since the last request was sent: the echo, the
  // reply and whatever else came. Worker only, like the fields below.
  std::array<std::uint8_t, 4 * rtu::kFrameBufferSize> lineBuffer_{};
  std::size_t txLength_ = 0;
  std::chrono::steady_clock::time_point replyDeadline_{};
  std::chrono::steady_clock::time_point lastReceived_{};  // the last byte read off the line
  std::map<std::string, Echo> echoByPort_;
  // Requests whose reply did not come (complete) within the time-out, oldest
  // first: the device may still send their replies. Worker only, like the
  // fields below.
  struct LateReply {
    std::array<std::uint8_t, 6> request{};  // address, function, and the four bytes a reply repeats
    std::chrono::steady_clock::time_point sentAt{};
    std::chrono::steady_clock::time_point failedAt{};
    std::chrono::milliseconds timeout{};
  };
  std::vector<LateReply> lateReplies_;
  // Devices seen answering after the time-out, and how long after its
  // request the latest such reply came.
  std::map<std::uint8_t, std::chrono::steady_clock::duration> lateness_;
  std::chrono::steady_clock::time_point sentAt_{};  // of the request being sent
  std::function<bool()> giveWay_;                   // set by the caller around a request (SetGiveWay)
  bool lateExceptionPossible_ = false;              // for the request being sent
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> commandsTaken_{0};  // commands the worker has taken
  std::thread worker_;
};

// Short English meaning of a result code, e.g. "illegal data address".
std::string ResultText(std::int32_t code);

}  // namespace ktr
