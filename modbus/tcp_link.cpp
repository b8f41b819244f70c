#include "tcp_link.h"

#include <algorithm>
#include <cstring>

namespace ktr {
namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

void PutWord(std::uint8_t* p, std::size_t value) {
  p[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  p[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::chrono::milliseconds Timeout(std::int32_t ms) {
  return std::chrono::milliseconds(std::max<std::int32_t>(ms, 0));
}

}  // namespace

int TcpLink::Open(const std::string& host, std::uint16_t port, Framing framing, std::int32_t timeoutMs) {
  Close();
  error_ = {};
  framing_ = framing;
  timeoutMs_ = timeoutMs;
  if (!socket_.Connect(host, port, Clock::now() + Timeout(timeoutMs), error_)) return kCannotOpen;
  return kOk;
}

void TcpLink::Close() {
  socket_.Close();
  inSize_ = 0;
  replySize_ = replyRead_ = 0;
  broken_ = false;
  wireReceived_.clear();
}

bool TcpLink::Write(const std::uint8_t* data, std::size_t length) {
  const std::uint8_t* wire = data;
  std::size_t wireLength = length;
  if (framing_ == Framing::kModbusTcp) {
    // RTU frame: unit, PDU, CRC. The header's length counts the unit id
    // and the PDU.
    if (length < 4 || length - 2 > rtu::kFrameBufferSize) {
      error_ = {SerialErrorKind::Other, 0, "send: no request frame"};
      return false;
    }
    const std::size_t unitAndPdu = length - 2;
    ++transaction_;
    PutWord(out_.data(), transaction_);
    PutWord(out_.data() + 2, 0);  // protocol id: Modbus
    PutWord(out_.data() + 4, unitAndPdu);
    std::memcpy(out_.data() + 6, data, unitAndPdu);
    wire = out_.data();
    wireLength = 6 + unitAndPdu;
    replySize_ = replyRead_ = 0;
  }
  wireReceived_.clear();
  std::size_t sent = 0;
  const bool ok = socket_.Send(wire, wireLength, &sent, Clock::now() + Timeout(timeoutMs_), error_);
  Trace(true, wire, sent);
  return ok;
}

bool TcpLink::TakeFrames() {
  while (replySize_ == 0 && inSize_ >= kHeaderSize) {
    const std::uint16_t protocol = Word(in_.data() + 2);
    const std::size_t length = Word(in_.data() + 4);
    if (protocol != 0 || length < 2 || length > kMaxLength) {
      // Without a sound length the next frame cannot be found.
      broken_ = true;
      error_ = {SerialErrorKind::Protocol, 0,
                "Modbus TCP header with protocol id " + std::to_string(protocol) + " and length " +
                    std::to_string(length) + " (expected 0 and 2-" + std::to_string(kMaxLength) + ")"};
      return false;
    }
    const std::size_t total = 6 + length;
    if (inSize_ < total) return true;  // the rest is on its way
    if (Word(in_.data()) == transaction_) {
      // The reply in the form the master reads on a line: unit id, PDU, CRC.
      std::memcpy(reply_.data(), in_.data() + 6, length);
      const std::uint16_t crc = rtu::Crc16(reply_.data(), length);
      reply_[length] = static_cast<std::uint8_t>(crc & 0xFF);
      reply_[length + 1] = static_cast<std::uint8_t>(crc >> 8);
      replySize_ = length + 2;
      replyRead_ = 0;
    }
    // A frame with another transaction id answers an earlier request: dropped.
    std::memmove(in_.data(), in_.data() + total, inSize_ - total);
    inSize_ -= total;
  }
  return true;
}

bool TcpLink::ReadAvailable(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                            Clock::time_point deadline) {
  *received = 0;
  if (framing_ == Framing::kRtu) return socket_.Receive(dest, capacity, received, deadline, error_);
  if (broken_) return false;  // error_ still says why
  for (;;) {
    if (!TakeFrames()) return false;
    if (replyRead_ < replySize_) {
      const std::size_t n = std::min(capacity, replySize_ - replyRead_);
      std::memcpy(dest, reply_.data() + replyRead_, n);
      replyRead_ += n;
      // Read whole: the next frame of this id (a second copy) may follow.
      if (replyRead_ == replySize_) replySize_ = replyRead_ = 0;
      *received = n;
      return true;
    }
    std::size_t n = 0;
    if (!socket_.Receive(in_.data() + inSize_, in_.size() - inSize_, &n, deadline, error_)) return false;
    if (n == 0) return true;  // the deadline has passed
    if (trace_) wireReceived_.insert(wireReceived_.end(), in_.begin() + inSize_, in_.begin() + inSize_ + n);
    inSize_ += n;
  }
}

void TcpLink::DiscardInput() {
  if (framing_ == Framing::kRtu) {
    socket_.Discard();
    return;
  }
  // What has arrived goes frame by frame (earlier replies, told apart by
  // their transaction id); a frame still coming in stays, so that the
  // stream keeps its place. Bytes that break the framing, or a remainder
  // too short for a header (the surplus of a peer that sent more than its
  // frame: a header comes whole), go, and the stream starts afresh.
  const auto dropFrames = [this] {
    for (;;) {
      if (!TakeFrames()) return false;
      if (replySize_ == 0) return true;
      replySize_ = replyRead_ = 0;
    }
  };
  bool sound = !broken_ && dropFrames();
  while (sound) {
    std::size_t n = 0;
    if (!socket_.Receive(in_.data() + inSize_, in_.size() - inSize_, &n, Clock::time_point{}, error_) ||
        n == 0) {
      break;  // nothing more without waiting (or the connection failed: the request will say so)
    }
    inSize_ += n;
    sound = dropFrames();
  }
  if (!sound || (inSize_ > 0 && inSize_ < kHeaderSize)) {
    socket_.Discard();
    inSize_ = 0;
    broken_ = false;
  }
  replySize_ = replyRead_ = 0;
}

void TcpLink::TraceReceived(const std::uint8_t* data, std::size_t length) {
  if (framing_ == Framing::kRtu) {
    Trace(false, data, length);
    return;
  }
  Trace(false, wireReceived_.data(), wireReceived_.size());
  wireReceived_.clear();
}

}  // namespace ktr
