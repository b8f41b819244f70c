#include "http_reply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace ktr {

namespace {

using Clock = socket_io::Clock;
using socket_io::Io;

// After an error reply (400, 413, 431) the client may still be sending the
// rest of its request. Closing a socket with unread data makes the kernel send
// a reset, which can destroy the reply before the client has read it, so the
// server stops sending and reads and drops what still arrives, at most this
// long, before it closes.
constexpr std::chrono::milliseconds kLingerTime{1000};

// Files up to this size are read whole and sent with their header in one write.
constexpr std::uint64_t kInMemoryFileLimit = 1024 * 1024;
// Larger files go out in pieces of this size.
constexpr std::size_t kFileChunk = 256 * 1024;

}  // namespace

std::string ReplyHeader(const HttpResponse& response, std::uint64_t length, const std::string& serverName) {
  std::string header;
  header.reserve(192);
  header += "HTTP/1.1 ";
  header += std::to_string(response.status);
  header += ' ';
  header += ReasonPhrase(response.status);
  header += "\r\nServer: ";
  header += serverName;
  header += "\r\nContent-Type: ";
  header += ContentTypeHeader(response.contentType, response.charset);
  header += "\r\nContent-Length: ";
  header += std::to_string(length);
  if (!response.deviceStatus.empty()) {
    header += "\r\nX-Device-Status: ";
    header += response.deviceStatus;
  }
  if (response.deviceAddress != 0) {
    header += "\r\nX-Device-Address: ";
    header += std::to_string(response.deviceAddress);
  }
  // One request per connection.
  header += "\r\nConnection: close\r\n\r\n";
  return header;
}

std::pair<char*, std::size_t> InputBuffer::Room() {
  if (begin_ == end_) Clear();
  if (data_.size() - end_ < kReadChunk && begin_ > 0) {
    std::copy(data_.begin() + static_cast<std::ptrdiff_t>(begin_),
              data_.begin() + static_cast<std::ptrdiff_t>(end_), data_.begin());
    end_ -= begin_;
    begin_ = 0;
  }
  if (data_.size() - end_ < kReadChunk) data_.resize(std::max(data_.size() * 2, end_ + kReadChunk));
  return {data_.data() + end_, data_.size() - end_};
}

ReplyWriter::ReplyWriter(socket_io::Handle socket, const socket_io::StopSignal& stop,
                         const HttpServerOptions& options, InputBuffer& input)
    : socket_(socket), stop_(stop), options_(options), input_(input) {}

void ReplyWriter::Send(HttpResponse response, bool headOnly, bool linger) {
  // A status line carries exactly three digits.
  if (response.status < 100 || response.status > 999) {
    response = StatusReply(500, "Invalid HTTP status code " + std::to_string(response.status));
  }
  const Clock::time_point deadline = Clock::now() + options_.writeTimeout;
  if (response.file) {
    const FileStream file = std::move(response.file);
    const std::uint64_t size = file.size();
    if (headOnly) {
      if (!SendAll(ReplyHeader(response, size, options_.serverName), {}, deadline)) return;
      return Finish(linger);
    }
    if (size > kInMemoryFileLimit) {
      if (!SendFile(response, file.get(), size, deadline)) return;
      return Finish(linger);
    }
    // A page, script or picture of the configurator is a few KiB: read it
    // whole and send header and body in one write.
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size()) {
      response.text = std::move(bytes);
    } else {
      response = StatusReply(500, "The file could not be read");
    }
  }
  const std::string body = response.text ? std::move(*response.text) : DefaultPage(response.status);
  const std::string header = ReplyHeader(response, body.size(), options_.serverName);
  if (!SendAll(header, headOnly ? std::string_view() : body, deadline)) return;
  Finish(linger);
}

// The header with the first piece, then the rest piece by piece. A file
// that ends early breaks the connection: the client sees fewer bytes than
// Content-Length announced.
bool ReplyWriter::SendFile(const HttpResponse& response, std::FILE* file, std::uint64_t size,
                           Clock::time_point deadline) {
  std::string header = ReplyHeader(response, size, options_.serverName);
  std::vector<char> piece(kFileChunk);
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
    const std::size_t got = std::fread(piece.data(), 1, want, file);
    if (got == 0) return false;
    if (!SendAll(header, {piece.data(), got}, deadline)) return false;
    header.clear();
    left -= got;
  }
  return true;
}

bool ReplyWriter::SendAll(std::string_view first, std::string_view second, Clock::time_point deadline) {
  for (;;) {
    if (first.empty()) std::swap(first, second);
    if (first.empty()) return true;
    const socket_io::IoResult sent = socket_io::SendSome(socket_, first, second);
    if (sent.status == Io::kDone) {
      const std::size_t fromFirst = std::min(sent.bytes, first.size());
      first.remove_prefix(fromFirst);
      second.remove_prefix(sent.bytes - fromFirst);
      continue;
    }
    if (sent.status != Io::kWouldBlock) return false;
    if (!socket_io::WaitReady(socket_, true, stop_, deadline)) return false;
  }
}

// The reply is out: end the sending side; after an error reply, read and
// drop what the client still sends (see kLingerTime). The caller closes.
void ReplyWriter::Finish(bool linger) {
  socket_io::ShutdownSend(socket_);
  if (!linger) return;
  const Clock::time_point deadline = Clock::now() + kLingerTime;
  for (;;) {
    const auto [room, size] = input_.Room();
    const socket_io::IoResult got = socket_io::ReceiveSome(socket_, room, size);
    if (got.status == Io::kDone) continue;  // dropped: never committed
    if (got.status != Io::kWouldBlock) return;
    if (!socket_io::WaitReady(socket_, false, stop_, deadline)) return;
  }
}

}  // namespace ktr
