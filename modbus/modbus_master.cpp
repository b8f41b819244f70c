#include "modbus_master.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <tuple>

#include "port_address.h"
#include "thread_name.h"
#include "word_wait.h"

namespace ktr {
namespace {

// How long a side keeps looking at the command word before it blocks on it.
// The commands of one access cycle (open, reads, close) follow each other
// within microseconds, and a reply on a fast line takes tens of them, while
// waking a thread that sleeps in the kernel can cost as much again (more on
// a virtual machine). A short look first saves those wake-ups; an idle
// worker still blocks, so it costs nothing between cycles. While looking,
// the thread gives its processor up between short bursts: on a busy machine
// the other side (or the device program on a pseudo-terminal) may need that
// very processor to get on.
constexpr auto kSpinBeforeBlocking = std::chrono::microseconds(200);

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Returns once `word` no longer holds `old`: looks at the word for
// kSpinBeforeBlocking first, and only then blocks on it.
void SpinThenBlockWhileEquals(CommandWord& word, std::uint16_t old) {
  const auto until = std::chrono::steady_clock::now() + kSpinBeforeBlocking;
  do {
    for (int i = 0; i < 64; ++i) {
      if (word.Load() != old) return;
      CpuRelax();
    }
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < until);
  word.BlockWhileEquals(old);
}

RequestFailure ClassifyFailure(std::int32_t code, RequestFailure onFailed, RequestFailure onNoReply) {
  if (code == result::kOk) return RequestFailure::None;
  if (code == result::kFailed) return onFailed;
  if (code == result::kNotOpen) return RequestFailure::Port;
  if (code == result::kNoReply) return onNoReply;
  if (result::IsException(code)) return RequestFailure::Exception;
  return RequestFailure::Port;
}

using Clock = std::chrono::steady_clock;

bool IsSingleWrite(std::uint8_t function) {
  return function == rtu::kWriteSingleCoil || function == rtu::kWriteSingleRegister;
}

// The command words the worker executes: the open, the close and the
// function codes of the requests.
bool IsCommand(std::uint16_t word) {
  return word == TModbus::CommandOpen || word == TModbus::CommandClose ||
         (word <= 0xFF && rtu::IsKnownFunction(static_cast<std::uint8_t>(word)));
}

}  // namespace

TModbus::TModbus() : worker_([this] { Execute(); }) {}

TModbus::~TModbus() {
  stopping_.store(true);
  // Any value other than CommandIdle wakes the worker; it sees stopping_ and
  // ends. A command still running finishes first (its I/O is bounded by the
  // time-outs), and the worker checks stopping_ again after it.
  command.Store(0);
  worker_.join();
  port.Close();
  tcp_.Close();
}

void TModbus::Execute() {
  NameThisThread("ktr-modbus");
  for (;;) {
    SpinThenBlockWhileEquals(command, CommandIdle);
    if (stopping_.load()) break;
    const std::uint16_t current = command.Load();
    if (current == CommandIdle) continue;
    commandsTaken_.fetch_add(1, std::memory_order_relaxed);
    // A word that is no command goes back to idle, the result unchanged.
    if (IsCommand(current)) {
      pendingFailure_ = RequestFailure::Port;
      noReplyFailure_ = RequestFailure::NoReply;
      replyBytes_ = 0;
      result = Run(current);
      failure_ = ClassifyFailure(result, pendingFailure_, noReplyFailure_);
    }
    // The store takes the word's lock, which orders it before the stopping_
    // check below.
    command.Store(CommandIdle);
    if (stopping_.load()) break;
  }
}

// `current` is a command (IsCommand).
std::int32_t TModbus::Run(std::uint16_t current) {
  switch (current) {
    case CommandOpen: return OpenSerial() == result::kOk ? result::kOk : result::kFailed;
    case CommandClose: return CloseSerial();
    case rtu::kReadCoils:
    case rtu::kReadDiscreteInputs:
    case rtu::kReadHoldingRegisters:
    case rtu::kReadInputRegisters: return ExecuteRead(static_cast<std::uint8_t>(current));
    case rtu::kWriteSingleCoil:
    case rtu::kWriteSingleRegister: return ExecuteWriteSingle(static_cast<std::uint8_t>(current));
    default:  // rtu::kWriteMultipleCoils, rtu::kWriteMultipleRegisters
      return ExecuteWriteMultiple(static_cast<std::uint8_t>(current));
  }
}

std::int32_t TModbus::PostCommand(std::uint16_t posted) {
  command.Store(posted);
  for (std::uint16_t seen = command.Load(); seen != CommandIdle; seen = command.Load()) {
    SpinThenBlockWhileEquals(command, seen);
  }
  return result;
}

std::int32_t TModbus::OpenPort(const SerialSettings& newSettings) {
  settings = newSettings;
  return PostCommand(CommandOpen);
}

std::int32_t TModbus::ClosePort() { return PostCommand(CommandClose); }

std::int32_t TModbus::ReadHoldingRegisters(std::uint16_t start, std::uint16_t n, std::uint16_t* destination) {
  startAddress = start;
  count = n;
  registers = destination;
  return PostCommand(rtu::kReadHoldingRegisters);
}

std::int32_t TModbus::ReadInputRegisters(std::uint16_t start, std::uint16_t n, std::uint16_t* destination) {
  startAddress = start;
  count = n;
  registers = destination;
  return PostCommand(rtu::kReadInputRegisters);
}

std::int32_t TModbus::WriteSingleRegister(std::uint16_t address, std::uint16_t v) {
  startAddress = address;
  value = v;
  return PostCommand(rtu::kWriteSingleRegister);
}

std::int32_t TModbus::WriteMultipleRegisters(std::uint16_t start, std::uint16_t n,
                                             const std::uint16_t* source) {
  startAddress = start;
  count = n;
  // The worker only reads the source of a write.
  registers = const_cast<std::uint16_t*>(source);
  return PostCommand(rtu::kWriteMultipleRegisters);
}

std::int32_t TModbus::ReadCoils(std::uint16_t start, std::uint16_t n, std::uint8_t* destination) {
  startAddress = start;
  count = n;
  bits = destination;
  return PostCommand(rtu::kReadCoils);
}

std::int32_t TModbus::ReadDiscreteInputs(std::uint16_t start, std::uint16_t n, std::uint8_t* destination) {
  startAddress = start;
  count = n;
  bits = destination;
  return PostCommand(rtu::kReadDiscreteInputs);
}

std::int32_t TModbus::WriteSingleCoil(std::uint16_t address, std::uint16_t v) {
  startAddress = address;
  value = v;
  return PostCommand(rtu::kWriteSingleCoil);
}

std::int32_t TModbus::WriteMultipleCoils(std::uint16_t start, std::uint16_t n, const std::uint8_t* source) {
  startAddress = start;
  count = n;
  bits = const_cast<std::uint8_t*>(source);
  return PostCommand(rtu::kWriteMultipleCoils);
}

std::string TModbus::LastOpenError() const { return lastOpenError_; }

// --- worker side -----------------------------------------------------------

std::int32_t TModbus::OpenSerial() {
  // The port name decides the transport: the record's transport, host and
  // tcpPort are filled from it here, whoever set the name.
  const std::string nameError = SetPortName(settings, settings.portName);
  // Either link may still be open from an earlier open; both close.
  port.Close();
  tcp_.Close();
  if (!nameError.empty()) {
    lastOpenFailure_ = {SerialErrorKind::BadAddress, 0, nameError};
    lastOpenError_ = nameError;
    link_ = &port;
    return SerialPort::kCannotOpen;
  }
  if (IsTcpTransport(settings.transport)) {
    link_ = &tcp_;
    const auto framing =
        settings.transport == kTransportModbusTcp ? TcpLink::Framing::kModbusTcp : TcpLink::Framing::kRtu;
    const int r = tcp_.Open(settings.host, settings.tcpPort, framing, settings.timeoutMs);
    lastOpenFailure_ = r == TcpLink::kOk ? SerialError{} : tcp_.LastError();
    lastOpenError_ = lastOpenFailure_.message;
    return r;
  }
  link_ = &port;
  LineSettings line;
  line.baudRate = settings.baudRate;
  line.dataBits = settings.dataBits;
  line.stopBits = settings.stopBits;
  line.parity = settings.parity;
  line.timeoutMs = settings.timeoutMs;
  line.rs485 = settings.rs485;
  // Open closes a port still held from an earlier open first.
  const int r = port.Open(settings.portName, line);
  lastOpenFailure_ = r == SerialPort::kOk ? SerialError{} : port.LastError();
  lastOpenError_ = lastOpenFailure_.message;
  return r;
}

std::int32_t TModbus::CloseSerial() {
  link_->Close();
  return result::kOk;
}

void TModbus::ClearBuffers() {
  txBuffer.fill(0);
  rxBuffer.fill(0);
}

// A reply that comes after its request has timed out must not be taken for
// the reply of a later request: RTU frames carry no request number, and a
// later request to the same device often expects a reply that looks the
// same (the seven weekday blocks, the single settings registers). So a
// request whose reply could pass for a late one (same device, function and
// quantity, or the same write) first waits until the line has been quiet
// for one time-out, dropping what arrives. Other requests go at once:
// ScanReply drops a late reply that cannot be theirs, and an exception,
// which any request of the same function could receive, is held until the
// deadline (lateExceptionPossible). A save then never waits out a silent
// device's read, nor a page's read of one block another block's silence.
//
// A device that does answer late (slower than the time-out) is another
// matter: a request sent at once may queue behind the one it is still
// working on, and its late replies then come one after another, each as
// late as the first. Once such a reply has been seen, every request to
// that device that still owes one waits, for a quiet line as long as that
// lateness if it is longer than the time-out. A late reply is expected within two time-outs of the failure
// (one is not enough when the master itself is slow to send the next
// request, on a loaded machine, and the late reply is slow too), and within
// its lateness more for a device seen answering late.
bool TModbus::DropLateReply() {
  const auto timeout = std::chrono::milliseconds(std::max<std::int32_t>(settings.timeoutMs, 0));
  const auto now = Clock::now();
  const auto latenessOf = [&](std::uint8_t address) {
    const auto it = lateness_.find(address);
    return it == lateness_.end() ? Clock::duration::zero() : it->second;
  };
  std::erase_if(lateReplies_, [&](const LateReply& late) {
    return now - late.failedAt >= 2 * std::max(timeout, late.timeout) + latenessOf(late.request[0]);
  });
  const std::uint8_t address = txBuffer[0];
  bool owed = false;
  bool confusable = false;
  for (const LateReply& late : lateReplies_) {
    if (late.request[0] != address) continue;
    owed = true;
    if (late.request[1] != txBuffer[1]) continue;
    lateExceptionPossible_ = true;
    confusable = confusable || rtu::RepliesConfusable(late.request.data(), txBuffer.data());
  }
  const Clock::duration lateness = latenessOf(address);
  if (!confusable && !(owed && lateness > Clock::duration::zero())) return true;
  const Clock::duration quiet = std::max<Clock::duration>(timeout, lateness);
  // A read may give way while it waits (SetGiveWay): the check is asked
  // between slices of the wait.
  const bool mayGiveWay =
      giveWay_ && txBuffer[1] >= rtu::kReadCoils && txBuffer[1] <= rtu::kReadInputRegisters;
  constexpr auto kGiveWaySlice = std::chrono::milliseconds(10);
  // A line that never falls quiet (a babbling device) is given up on after a
  // few time-outs; DiscardInput then drops what has come.
  const auto giveUp = now + 4 * quiet;
  auto quietUntil = now + quiet;
  for (auto t = now; t < quietUntil && t < giveUp; t = Clock::now()) {
    if (mayGiveWay && giveWay_()) {
      rxBuffer.fill(0);
      return false;  // what is owed stays owed
    }
    std::size_t received = 0;
    const auto until = mayGiveWay ? std::min(quietUntil, t + kGiveWaySlice) : quietUntil;
    if (!link_->ReadAvailable(rxBuffer.data(), rxBuffer.size(), &received, until)) break;
    if (received > 0) {
      link_->TraceReceived(rxBuffer.data(), received);
      quietUntil = Clock::now() + quiet;
      NoteLateFrame(address, Clock::now());
    }
  }
  rxBuffer.fill(0);
  // Whatever was owed has come, or is not coming.
  lateReplies_.clear();
  lateExceptionPossible_ = false;
  return true;
}

// A frame from `address` that was no reply to the request in hand: the late
// reply of the oldest request the device still owes, so far after it.
void TModbus::NoteLateFrame(std::uint8_t address, Clock::time_point at) {
  const auto oldest = std::find_if(lateReplies_.begin(), lateReplies_.end(),
                                   [&](const LateReply& late) { return late.request[0] == address; });
  if (oldest == lateReplies_.end()) return;
  // Bounded like the wait for a quiet line, so a babbling line cannot make
  // every later wait longer.
  const Clock::duration cap = 3 * std::max(oldest->timeout, std::chrono::milliseconds(settings.timeoutMs));
  Clock::duration& lateness = lateness_[address];
  lateness = std::min(cap, std::max(lateness, at - oldest->sentAt));
}

// After a request: a device that answered has sent whatever it still owed
// before (a device answers its requests in turn); one that did not may
// send this reply late.
void TModbus::NoteLateReply(bool answered, std::optional<Clock::time_point> lateFrameAt) {
  if (!LineTiming()) return;  // Modbus TCP matches replies by transaction id
  const std::uint8_t address = txBuffer[0];
  const auto now = Clock::now();
  if (lateFrameAt) NoteLateFrame(address, *lateFrameAt);
  if (answered) {
    std::erase_if(lateReplies_, [&](const LateReply& late) { return late.request[0] == address; });
    return;
  }
  LateReply unanswered;
  std::copy_n(txBuffer.begin(), unanswered.request.size(), unanswered.request.begin());
  unanswered.sentAt = sentAt_;
  unanswered.failedAt = now;
  unanswered.timeout = std::chrono::milliseconds(std::max<std::int32_t>(settings.timeoutMs, 0));
  // A device seen answering late works through what it owes in turn, so
  // the earlier replies come before this one, late as it may be.
  if (lateness_.contains(address)) {
    for (LateReply& late : lateReplies_) {
      if (late.request[0] == address) late.failedAt = now;
    }
  }
  lateReplies_.push_back(unanswered);
}

// Modbus RTU frames are told apart by silence: a device takes a request to
// begin after 3.5 quiet character times. A request sent right after a reply
// (the reads of the device search follow each other at once) waits for
// that, counted from the last byte received; bytes still queued count as
// just received. A line that never falls quiet is given up on after a
// time-out, and DiscardInput drops what came.
void TModbus::WaitForQuietLine() {
  const auto quiet = std::chrono::nanoseconds(
      rtu::QuietTimeNs(settings.baudRate, settings.dataBits, settings.parity, settings.stopBits));
  const auto giveUp =
      Clock::now() + std::chrono::milliseconds(std::max<std::int32_t>(settings.timeoutMs, 0)) + quiet;
  for (;;) {
    std::size_t n = 0;
    const auto now = Clock::now();
    if (link_->ReadAvailable(lineBuffer_.data(), lineBuffer_.size(), &n, now) && n > 0) {
      lastReceived_ = now;
      if (now < giveUp) continue;
    }
    const auto until = lastReceived_ + quiet;
    if (now >= until || now >= giveUp) return;
    std::this_thread::sleep_until(std::min(until, giveUp));
  }
}

std::int32_t TModbus::SendFrame(std::size_t length, std::size_t expected) {
  if (!link_->IsOpen()) return result::kNotOpen;
  // RTU over TCP keeps both waits: a transparent gateway puts our bytes on
  // its line as they come and passes the line's bytes on as they come, so
  // the silence between frames that the devices need must come from here,
  // as on a local line (the line settings stand for the gateway's line),
  // and a late reply reaches us like on a local line.
  lateExceptionPossible_ = false;
  if (LineTiming()) {
    if (!DropLateReply()) return result::kGaveWay;
    WaitForQuietLine();
  }
  // Whatever is still queued (the surplus of an over-long reply, a reply that
  // came after its time-out) would otherwise be read as the start of the next
  // reply.
  link_->DiscardInput();
  txLength_ = length;
  // The time-out is the device's: the request and the reply also take their
  // time on the wire, which at 1200 baud is longer than the time-outs.
  const auto wire = std::chrono::nanoseconds(
      rtu::CharacterTimeNs(settings.baudRate, settings.dataBits, settings.parity, settings.stopBits) *
      static_cast<std::int64_t>(length + expected));
  replyDeadline_ =
      Clock::now() + std::chrono::milliseconds(std::max<std::int32_t>(settings.timeoutMs, 0)) + wire;
  sentAt_ = Clock::now();
  return link_->Write(txBuffer.data(), length) ? result::kOk : result::kFailed;
}

// Reads what the line delivers until the scan finds the reply (or an
// exception, or a full reply with a bad CRC), or the deadline has passed.
// The reply's address and function need no check after the read: ScanReply
// picks the reply out by them, dropping other frames rather than failing.
std::int32_t TModbus::ReceiveFrame(std::size_t expected, rtu::EchoRule echo) {
  if (!link_->IsOpen()) return result::kNotOpen;
  const rtu::ReplyRule rule{txBuffer.data(), txLength_, expected, echo, lateExceptionPossible_};
  std::size_t size = 0;
  bool readFailed = false;
  Clock::time_point firstByteAt{};
  rtu::ReplyScan scan;
  for (;;) {
    const bool final = size == lineBuffer_.size() || Clock::now() >= replyDeadline_;
    scan = rtu::ScanReply(rule, lineBuffer_.data(), size, final);
    if (scan.verdict != rtu::ReplyVerdict::kWaiting) break;
    std::size_t n = 0;
    if (!link_->ReadAvailable(lineBuffer_.data() + size, lineBuffer_.size() - size, &n, replyDeadline_)) {
      // The port failed (an adapter pulled out): what came is all there is.
      // Judged like a reply cut off by the deadline, as before: kNoReply.
      readFailed = true;
      scan = rtu::ScanReply(rule, lineBuffer_.data(), size, true);
      break;
    }
    if (n > 0) {
      if (size == 0) firstByteAt = Clock::now();
      size += n;
      lastReceived_ = Clock::now();
    }
  }
  link_->TraceReceived(lineBuffer_.data(), size);
  replyBytes_ = scan.echoSeen && size >= txLength_ ? size - txLength_ : size;

  if (settings.echo == EchoMode::Auto && SerialLine()) {
    // An echoing line returns every request, answered or not; a line that
    // gave nothing at all, or a reply with no copy before it, does not echo.
    Echo& lineEcho = LineEcho();
    const bool answered =
        scan.verdict == rtu::ReplyVerdict::kReply || scan.verdict == rtu::ReplyVerdict::kException;
    if (scan.echoSeen) {
      lineEcho = Echo::Yes;
    } else if ((size == 0 && !readFailed) || (answered && echo == rtu::EchoRule::kDrop)) {
      lineEcho = Echo::No;
    }
  }

  const bool answered = scan.verdict == rtu::ReplyVerdict::kReply ||
                        scan.verdict == rtu::ReplyVerdict::kException ||
                        scan.verdict == rtu::ReplyVerdict::kBadCrc;
  // A frame of this device that was not the reply, or an exception held and
  // then passed over for the reply behind it, was a late answer.
  const bool heldWasLate =
      scan.held && !(scan.verdict == rtu::ReplyVerdict::kException && scan.start == scan.heldStart);
  // It came first, as a rule: the device answers in turn.
  std::optional<Clock::time_point> lateFrameAt;
  if (scan.droppedOwn > 0 || heldWasLate) lateFrameAt = firstByteAt;
  NoteLateReply(answered, lateFrameAt);
  switch (scan.verdict) {
    case rtu::ReplyVerdict::kReply:
      std::copy_n(lineBuffer_.begin() + static_cast<std::ptrdiff_t>(scan.start), expected, rxBuffer.begin());
      return result::kOk;
    case rtu::ReplyVerdict::kException: return result::Exception(scan.code);
    case rtu::ReplyVerdict::kBadCrc: pendingFailure_ = RequestFailure::BadReply; return result::kFailed;
    default: break;
  }
  // No reply in time. Noise on the line is a bad reply rather than none;
  // the echo, other devices' frames or a cut reply are not.
  if (readFailed) {
    // A Modbus TCP frame whose header breaks the framing is a bad reply;
    // a connection that failed or closed is the port's failure.
    noReplyFailure_ = link_->LastError().kind == SerialErrorKind::Protocol ? RequestFailure::BadReply
                                                                           : RequestFailure::Port;
  } else if (scan.verdict == rtu::ReplyVerdict::kNoise || scan.skipped > 0) {
    noReplyFailure_ = RequestFailure::BadReply;
  }
  return result::kNoReply;
}

TModbus::Echo& TModbus::LineEcho() { return echoByPort_[settings.portName]; }

rtu::EchoRule TModbus::EchoRuleFor(std::uint8_t function) {
  // A read's reply differs from its request, so a copy of the request ahead
  // of it can only be the echo and is dropped whatever the line was thought
  // to do. The reply of a write 5 or 6 is its request byte for byte: on a
  // line that echoes, the first copy is the echo and proves nothing.
  const bool single = IsSingleWrite(function);
  // Over TCP there is no echo to learn: a gateway keeps its line's echo to
  // itself. A copy of a read request before the reply is still dropped, as
  // above; a write's reply is taken as it comes.
  if (!SerialLine()) return single ? rtu::EchoRule::kNone : rtu::EchoRule::kDrop;
  switch (settings.echo) {
    case EchoMode::Off: return rtu::EchoRule::kNone;
    case EchoMode::On: return single ? rtu::EchoRule::kRequired : rtu::EchoRule::kDrop;
    case EchoMode::Auto:
    default:
      if (!single) return rtu::EchoRule::kDrop;
      return LineEcho() == Echo::No ? rtu::EchoRule::kNone : rtu::EchoRule::kRequired;
  }
}

// A write 5 or 6 on a port whose echo is still unknown (nothing read on it
// yet) is preceded by a read of the same address: its reply, or the
// silence, shows whether the line echoes, which the write's reply cannot.
// Its result is of no further use.
void TModbus::LearnEchoBeforeWrite(std::uint8_t readFunction) {
  if (settings.echo != EchoMode::Auto || !SerialLine() || LineEcho() != Echo::Unknown) return;
  const std::size_t length =
      rtu::BuildReadRequest(txBuffer.data(), settings.slaveAddress, readFunction, startAddress, 1);
  std::ignore = Exchange(length, rtu::ExpectedReplyLength(readFunction, 1), readFunction);
  ClearBuffers();
  pendingFailure_ = RequestFailure::Port;  // the write's failure is its own
  noReplyFailure_ = RequestFailure::NoReply;
}

std::int32_t TModbus::Exchange(std::size_t length, std::size_t expected, std::uint8_t function) {
  if (const std::int32_t r = SendFrame(length, expected); r != result::kOk) return r;
  return ReceiveFrame(expected, EchoRuleFor(function));
}

std::int32_t TModbus::ExecuteRead(std::uint8_t function) {
  ClearBuffers();
  if (!link_->IsOpen()) return result::kFailed;
  const bool coils = function == rtu::kReadCoils || function == rtu::kReadDiscreteInputs;
  if (!rtu::Fits(function, count) || (coils ? bits == nullptr : registers == nullptr)) {
    pendingFailure_ = RequestFailure::Refused;
    return result::kFailed;  // refused before anything is sent
  }
  const std::size_t length =
      rtu::BuildReadRequest(txBuffer.data(), settings.slaveAddress, function, startAddress, count);
  const std::size_t expected = rtu::ExpectedReplyLength(function, count);
  if (const std::int32_t r = Exchange(length, expected, function); r != result::kOk) return r;

  if (coils) {
    std::copy_n(rxBuffer.begin() + 3, expected - 5, bits);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      registers[i] = static_cast<std::uint16_t>((rxBuffer[3 + 2 * i] << 8) | rxBuffer[4 + 2 * i]);
    }
  }
  return result::kOk;
}

std::int32_t TModbus::ExecuteWriteSingle(std::uint8_t function) {
  ClearBuffers();
  if (!link_->IsOpen()) return result::kFailed;
  LearnEchoBeforeWrite(function == rtu::kWriteSingleCoil ? rtu::kReadCoils : rtu::kReadHoldingRegisters);
  const std::size_t length =
      rtu::BuildWriteSingleRequest(txBuffer.data(), settings.slaveAddress, function, startAddress, value);
  return Exchange(length, rtu::ExpectedReplyLength(function, 1), function);
}

std::int32_t TModbus::ExecuteWriteMultiple(std::uint8_t function) {
  ClearBuffers();
  if (!link_->IsOpen()) return result::kFailed;
  const bool coils = function == rtu::kWriteMultipleCoils;
  if (!rtu::Fits(function, count) || (coils ? bits == nullptr : registers == nullptr)) {
    pendingFailure_ = RequestFailure::Refused;
    return result::kFailed;  // refused before anything is sent
  }
  const std::size_t length =
      coils ? rtu::BuildWriteCoilsRequest(txBuffer.data(), settings.slaveAddress, startAddress, count, bits)
            : rtu::BuildWriteRegistersRequest(txBuffer.data(), settings.slaveAddress, startAddress, count,
                                              registers);
  return Exchange(length, rtu::ExpectedReplyLength(function, count), function);
}

std::string ResultText(std::int32_t code) {
  switch (code) {
    case result::kOk: return "success";
    case result::kFailed: return "port, write or CRC failure";
    case result::kNotOpen: return "port not open";
    case result::kNoReply: return "no reply";
    case result::kGaveWay: return "gave way to another request";
    case result::Exception(1): return "illegal function";
    case result::Exception(2): return "illegal data address";
    case result::Exception(3): return "illegal data value";
    case result::Exception(4): return "slave device failure";
    default:
      if (code < result::Exception(0) && code >= result::Exception(255)) {
        return "exception code " + std::to_string(result::kExceptionBase - code);
      }
      return "unknown error";
  }
}

}  // namespace ktr
