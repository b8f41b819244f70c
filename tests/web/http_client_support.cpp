#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ktr::web_test {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int Remaining(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

std::string Reply::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualNoCase(key, name)) return value;
  }
  return {};
}

std::size_t Reply::HeaderCount(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& header : headers) {
    if (EqualNoCase(header.first, name)) ++count;
  }
  return count;
}

Reply ParseReply(std::string raw) {
  Reply reply;
  reply.raw = std::move(raw);
  const std::size_t end = reply.raw.find("\r\n\r\n");
  reply.complete = end != std::string::npos;
  const std::string head = reply.raw.substr(0, end);
  if (reply.complete) reply.body = reply.raw.substr(end + 4);
  std::size_t pos = 0;
  bool first = true;
  while (pos <= head.size()) {
    std::size_t eol = head.find("\r\n", pos);
    if (eol == std::string::npos) eol = head.size();
    const std::string line = head.substr(pos, eol - pos);
    if (first) {
      reply.statusLine = line;
      if (line.size() >= 12) reply.status = std::atoi(line.substr(9, 3).c_str());
      first = false;
    } else if (!line.empty()) {
      const std::size_t colon = line.find(':');
      std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      reply.headers.emplace_back(line.substr(0, colon), value);
    }
    pos = eol + 2;
  }
  return reply;
}

ClientSocket::ClientSocket(std::uint16_t port, Loopback loopback) {
  const bool v6 = loopback == Loopback::kIpv6;
  fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_port = htons(port);
  address6.sin6_addr = in6addr_loopback;
  const int rc = v6 ? ::connect(fd_, reinterpret_cast<const sockaddr*>(&address6), sizeof address6)
                    : ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (rc != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw std::runtime_error(std::string("connect: ") + std::strerror(error));
  }
}

ClientSocket::~ClientSocket() {
  if (fd_ >= 0) ::close(fd_);
}

bool ClientSocket::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::string ClientSocket::ReadToClose(std::chrono::milliseconds timeout, bool* closed) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string data;
  if (closed != nullptr) *closed = false;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, Remaining(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return data;  // time-out
    char buffer[8192];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // end of stream, or reset
      if (closed != nullptr) *closed = true;
      return data;
    }
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

bool ClientSocket::WaitReadable(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

void ClientSocket::ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

Reply Exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout) {
  ClientSocket socket(port);
  socket.Send(request);
  return ParseReply(socket.ReadToClose(timeout));
}

Reply Get(std::uint16_t port, std::string_view target) {
  return Request(port, "GET", target);
}

Reply Request(std::uint16_t port, std::string_view method, std::string_view target,
              std::string_view contentType, std::string_view body) {
  std::string request = std::string(method) + " " + std::string(target) +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!contentType.empty()) request += "Content-Type: " + std::string(contentType) + "\r\n";
  if (!body.empty() || method == "POST") {
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n";
  request += body;
  return Exchange(port, request);
}

}  // namespace ktr::web_test
