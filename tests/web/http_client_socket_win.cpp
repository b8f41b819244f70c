// ClientSocket on Winsock 2.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

#include "http_client.h"

namespace ktr::test {

namespace {

SOCKET Sock(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::runtime_error Failure(const char* call) {
  return std::runtime_error(std::string(call) + ": Winsock error " + std::to_string(WSAGetLastError()));
}

// Once per process, before the first socket.
void StartWinsock() {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (result != 0) throw std::runtime_error("WSAStartup: " + std::to_string(result));
}

}  // namespace

ClientSocket::ClientSocket(std::uint16_t port, Loopback loopback) {
  StartWinsock();
  const bool v6 = loopback == Loopback::kIpv6;
  const SOCKET socket =
      WSASocketW(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) throw Failure("socket");
  fd_ = static_cast<std::intptr_t>(socket);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_port = htons(port);
  address6.sin6_addr = in6addr_loopback;
  const int rc = v6 ? connect(socket, reinterpret_cast<const sockaddr*>(&address6), sizeof address6)
                    : connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (rc != 0) {
    const std::runtime_error error = Failure("connect");
    closesocket(socket);
    fd_ = -1;
    throw error;
  }
}

ClientSocket::~ClientSocket() {
  if (fd_ != -1) closesocket(Sock(fd_));
}

bool ClientSocket::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const int sent =
        send(Sock(fd_), bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX)), 0);
    if (sent == SOCKET_ERROR) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

long ClientSocket::Receive(char* buffer, std::size_t size) {
  return recv(Sock(fd_), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

bool ClientSocket::WaitReadable(std::chrono::milliseconds timeout) {
  WSAPOLLFD p{Sock(fd_), POLLRDNORM, 0};
  return WSAPoll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

void ClientSocket::ShutdownWrite() { shutdown(Sock(fd_), SD_SEND); }

}  // namespace ktr::test
