// The master's link to devices behind an Ethernet gateway: one TCP
// connection, opened and closed with each access cycle as a serial port is.
//
// Two framings. Modbus TCP: each request goes out as an MBAP header
// (transaction id, protocol id 0, length, unit id = the device address) and
// the request's PDU, without the CRC. A reply counts only with the request's
// transaction id and protocol id 0; frames with another id (a late reply to
// an earlier request) are dropped whole, the length field delimits them. The
// matching frames reach the master in RTU form (unit id, PDU, and a CRC made
// here), so that the same reply checks run as on the line. RTU over TCP: the
// RTU frames of the line go over the stream unchanged, for gateways that
// pass bytes through.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "result_code.h"
#include "rtu_frame.h"
#include "tcp_socket.h"
#include "transport.h"

namespace ktr {

class TcpLink final : public Transport {
 public:
  enum class Framing : std::uint8_t { kModbusTcp, kRtu };

  // Open results, as for the serial port: kCannotOpen for every failure.
  static constexpr int kOk = result::kOk;
  static constexpr int kCannotOpen = result::kNotOpen;

  TcpLink() = default;
  ~TcpLink() override = default;
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;

  // Connects within `timeoutMs` (a connect that takes longer fails like a
  // missing port); later writes are bounded by it too. An open connection
  // is closed first.
  [[nodiscard]] int Open(const std::string& host, std::uint16_t port, Framing framing,
                         std::int32_t timeoutMs);

  void Close() override;
  bool IsOpen() const override { return socket_.IsOpen(); }
  [[nodiscard]] bool Write(const std::uint8_t* data, std::size_t length) override;
  [[nodiscard]] bool ReadAvailable(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                                   std::chrono::steady_clock::time_point deadline) override;
  // RTU over TCP: drops what has arrived. Modbus TCP: drops the whole
  // frames that have arrived and keeps a frame half received, so that the
  // stream stays in step; what breaks the framing goes entirely.
  void DiscardInput() override;
  const SerialError& LastError() const override { return error_; }
  void SetTrace(TraceSink sink) override { trace_ = std::move(sink); }
  // Modbus TCP traces the frames as they came over the wire (MBAP headers,
  // other transaction ids), not the RTU form the reply was read in.
  void TraceReceived(const std::uint8_t* data, std::size_t length) override;

  // The transaction id of the last request sent (Modbus TCP).
  std::uint16_t LastTransaction() const { return transaction_; }

 private:
  void Trace(bool sent, const std::uint8_t* data, std::size_t length) const {
    if (trace_ && length > 0) trace_(sent, data, length);
  }
  // Takes the complete frames at the front of in_: the one with this
  // request's transaction id becomes the pending reply. False when a header
  // breaks the framing.
  [[nodiscard]] bool TakeFrames();

  static constexpr std::size_t kHeaderSize = 7;  // MBAP: id, protocol, length, unit
  // Unit id and PDU; the protocol allows 254, the master's frame buffers a
  // little more (it reads up to 147 registers).
  static constexpr std::size_t kMaxLength = rtu::kFrameBufferSize - 2;

  detail::TcpSocket socket_;
  Framing framing_ = Framing::kModbusTcp;
  std::int32_t timeoutMs_ = 1000;
  SerialError error_;
  TraceSink trace_;
  std::uint16_t transaction_ = 0;
  // Modbus TCP receive state: bytes not yet taken as frames; the reply in
  // RTU form and how much of it was read; whether the framing broke.
  std::array<std::uint8_t, 2 * rtu::kFrameBufferSize> in_{};
  std::size_t inSize_ = 0;
  std::array<std::uint8_t, rtu::kFrameBufferSize> reply_{};
  std::size_t replySize_ = 0;
  std::size_t replyRead_ = 0;
  bool broken_ = false;
  std::vector<std::uint8_t> wireReceived_;  // for the trace
  std::array<std::uint8_t, kHeaderSize + rtu::kFrameBufferSize> out_{};
};

}  // namespace ktr
