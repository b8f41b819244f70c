// Windows: InetPtonA, GetAdaptersAddresses (IP Helper) and the computer's
// DNS host name. None of them needs Winsock to be started.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include "local_machine.h"
#include "win_text.h"

namespace ktr::local_machine {

std::string AddressBytes(const std::string& text) {
  IN_ADDR v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return {reinterpret_cast<const char*>(&v4), sizeof v4};
  IN6_ADDR v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) return {reinterpret_cast<const char*>(&v6), sizeof v6};
  return {};
}

std::vector<std::string> InterfaceAddresses() {
  std::vector<std::string> addresses;
  // The list's size is not known ahead; Microsoft's advice is to start with
  // 15 KB and grow as told, since adapters can appear between two calls.
  ULONG size = 15 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC,
                                  GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return addresses;
  for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    for (const IP_ADAPTER_UNICAST_ADDRESS* a = adapter->FirstUnicastAddress; a != nullptr; a = a->Next) {
      const sockaddr* address = a->Address.lpSockaddr;
      if (address == nullptr) continue;
      if (address->sa_family == AF_INET) {
        const IN_ADDR& v4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        addresses.emplace_back(reinterpret_cast<const char*>(&v4), sizeof v4);
      } else if (address->sa_family == AF_INET6) {
        const IN6_ADDR& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        addresses.emplace_back(reinterpret_cast<const char*>(&v6), sizeof v6);
      }
    }
  }
  return addresses;
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD length = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length) || length == 0) return {};
  return win::Utf8FromWide(std::wstring_view(name, length));
}

}  // namespace ktr::local_machine
