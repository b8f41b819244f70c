// The sending side of one connection of the HTTP server, with no Beast in
// it (http_server.cpp, the one source that includes Beast, parses): the
// reply's header, the buffer of received bytes that a connection thread
// keeps, and writing a reply to the socket within the write time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http_message.h"
#include "http_server.h"
#include "socket_io.h"

namespace ktr {

// The status line and headers of `response` with a body of `length` bytes:
// "Server", "Content-Type" (ContentTypeHeader), "Content-Length",
// "X-Device-Status" and "X-Device-Address" when the response has them, and
// "Connection: close".
std::string ReplyHeader(const HttpResponse& response, std::uint64_t length, const std::string& serverName);

// Bytes received and not yet parsed. Owned by a connection thread and kept
// from one connection to the next, so that a request costs no allocation.
class InputBuffer {
 public:
  // Room asked of the kernel per read of a request.
  static constexpr std::size_t kReadChunk = 16 * 1024;

  std::string_view Unparsed() const { return {data_.data() + begin_, end_ - begin_}; }
  void Consume(std::size_t n) { begin_ += n; }
  void Clear() { begin_ = end_ = 0; }
  // Room for at least kReadChunk more bytes at the end.
  std::pair<char*, std::size_t> Room();
  void Commit(std::size_t n) { end_ += n; }

 private:
  std::vector<char> data_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Writes the reply of one accepted connection and ends the connection's
// sending side. Every wait watches the server's stop signal.
class ReplyWriter {
 public:
  // All must outlive the writer; `input` is the connection's buffer, used
  // to drop what a client still sends after an error reply.
  ReplyWriter(socket_io::Handle socket, const socket_io::StopSignal& stop, const HttpServerOptions& options,
              InputBuffer& input);

  // Sends `response` within the write time-out: headers only for
  // `headOnly` (with the Content-Length of the body), a status outside
  // 100-999 as 500. Then ends the sending side; with `linger`, reads and
  // drops what the client still sends for a while (after an error reply).
  void Send(HttpResponse response, bool headOnly, bool linger);

  // Writes `first` then `second` in as few system calls as the socket
  // allows. False when the connection broke, the deadline passed or the
  // server stops.
  [[nodiscard]] bool SendAll(std::string_view first, std::string_view second,
                             socket_io::Clock::time_point deadline);

 private:
  [[nodiscard]] bool SendFile(const HttpResponse& response, std::FILE* file, std::uint64_t size,
                              socket_io::Clock::time_point deadline);
  void Finish(bool linger);

  const socket_io::Handle socket_;
  const socket_io::StopSignal& stop_;
  const HttpServerOptions& options_;
  InputBuffer& input_;
};

}  // namespace ktr
