// POSIX: inet_pton(3), getifaddrs(3) and gethostname(2).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include "local_machine.h"

namespace ktr::local_machine {

std::string AddressBytes(const std::string& text) {
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return {reinterpret_cast<const char*>(&v4), sizeof v4};
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) return {reinterpret_cast<const char*>(&v6), sizeof v6};
  return {};
}

std::vector<std::string> InterfaceAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr) continue;
    if (a->ifa_addr->sa_family == AF_INET) {
      const in_addr& v4 = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
      addresses.emplace_back(reinterpret_cast<const char*>(&v4), sizeof v4);
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr;
      addresses.emplace_back(reinterpret_cast<const char*>(&v6), sizeof v6);
    }
  }
  freeifaddrs(list);
  return addresses;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace ktr::local_machine
