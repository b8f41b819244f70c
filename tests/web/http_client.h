// A small blocking HTTP client for the web tests: it sends raw bytes over a
// TCP socket to 127.0.0.1 and returns the raw reply, so that tests can check
// status lines and headers byte for byte.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ktr::test {

using namespace std::chrono_literals;

// One reply as it came over the wire.
struct Reply {
  std::string raw;
  std::string statusLine;  // without CRLF
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;                                          // everything after the blank line
  bool complete = false;                                     // a blank line ended the headers

  // The first header of that name (any letter case); empty when absent.
  std::string Header(std::string_view name) const;
  // How many headers carry that name.
  std::size_t HeaderCount(std::string_view name) const;
};

Reply ParseReply(std::string raw);

enum class Loopback { kIpv4, kIpv6 };

// A client connection to 127.0.0.1:port (or [::1]:port). Closed by the
// destructor.
class ClientSocket {
 public:
  // Throws std::runtime_error when the connection cannot be made.
  explicit ClientSocket(std::uint16_t port, Loopback loopback = Loopback::kIpv4);
  ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  // Sends all bytes; false when the server has closed or reset the
  // connection (no SIGPIPE).
  bool Send(std::string_view bytes);
  // Reads until the server closes the connection (or resets it) or `timeout`
  // has passed. `closed` (optional) tells which.
  std::string ReadToClose(std::chrono::milliseconds timeout, bool* closed = nullptr);
  // True when data or the end of the stream arrives within `timeout`.
  bool WaitReadable(std::chrono::milliseconds timeout);
  void ShutdownWrite();

 private:
  // Reads what has arrived: the byte count, 0 at the end of the stream, or
  // negative when the connection failed (reset).
  long Receive(char* buffer, std::size_t size);

  std::intptr_t fd_ = -1;  // a descriptor (POSIX) or a SOCKET (Windows)
};

// The port in the ready line of `ktr-cli serve`:
// "listening on http://127.0.0.1:PORT (web root ...)".
std::uint16_t ListeningPort(const std::string& readyLine);

// Connects, sends `request`, reads the reply up to the server's close.
Reply Exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout = 20s);
// A minimal "GET target HTTP/1.1" request.
Reply Get(std::uint16_t port, std::string_view target);
// A request of any method with optional Content-Type and body.
Reply Request(std::uint16_t port, std::string_view method, std::string_view target,
              std::string_view contentType = {}, std::string_view body = {});

}  // namespace ktr::test
