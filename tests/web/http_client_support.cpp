// The web tests' HTTP client: replies and requests. The socket itself is
// per platform (http_client_socket_posix.cpp, http_client_socket_win.cpp).
#include "http_client.h"

#include <algorithm>
#include <cstdlib>

namespace ktr::test {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
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

std::string ClientSocket::ReadToClose(std::chrono::milliseconds timeout, bool* closed) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string data;
  if (closed != nullptr) *closed = false;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!WaitReadable(std::max(left, std::chrono::milliseconds(0)))) return data;  // time-out
    char buffer[8192];
    const long got = Receive(buffer, sizeof buffer);
    if (got <= 0) {  // end of stream, or reset
      if (closed != nullptr) *closed = true;
      return data;
    }
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

std::uint16_t ListeningPort(const std::string& readyLine) {
  const auto colon = readyLine.find(':', readyLine.find("//"));
  return static_cast<std::uint16_t>(std::stoi(readyLine.substr(colon + 1)));
}

Reply Exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout) {
  ClientSocket socket(port);
  socket.Send(request);
  return ParseReply(socket.ReadToClose(timeout));
}

Reply Get(std::uint16_t port, std::string_view target) { return Request(port, "GET", target); }

Reply Request(std::uint16_t port, std::string_view method, std::string_view target,
              std::string_view contentType, std::string_view body) {
  std::string request = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!contentType.empty()) request += "Content-Type: " + std::string(contentType) + "\r\n";
  if (!body.empty() || method == "POST") {
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n";
  request += body;
  return Exchange(port, request);
}

}  // namespace ktr::test
