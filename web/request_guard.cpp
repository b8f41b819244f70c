#include "request_guard.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ktr {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// "host", "host:port", "[v6]" or "[v6]:port" → the host part, lower case,
// without brackets; empty when malformed.
std::string HostPart(std::string_view hostHeader) {
  if (!hostHeader.empty() && hostHeader.front() == '[') {
    const std::size_t close = hostHeader.find(']');
    if (close == std::string_view::npos) return {};
    return Lower(hostHeader.substr(1, close - 1));
  }
  return Lower(hostHeader.substr(0, hostHeader.find(':')));
}

// The port of a Host header value, "80" when none is given.
std::string PortPart(std::string_view hostHeader) {
  const std::size_t close = hostHeader.find(']');
  const std::size_t colon = hostHeader.find(':', close == std::string_view::npos ? 0 : close);
  if (colon == std::string_view::npos || colon + 1 == hostHeader.size()) return "80";
  return std::string(hostHeader.substr(colon + 1));
}

bool IsLocalInterfaceAddress(const std::string& host) {
  in6_addr v6{};
  in_addr v4{};
  const bool isV4 = inet_pton(AF_INET, host.c_str(), &v4) == 1;
  const bool isV6 = !isV4 && inet_pton(AF_INET6, host.c_str(), &v6) == 1;
  if (!isV4 && !isV6) return false;
  if (isV4 && (ntohl(v4.s_addr) >> 24) == 127) return true;
  if (isV6 && IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  // Addresses change with the network, so they are looked up each time.
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
    if (a->ifa_addr == nullptr) continue;
    if (isV4 && a->ifa_addr->sa_family == AF_INET) {
      found = std::memcmp(&reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, &v4, sizeof v4) == 0;
    } else if (isV6 && a->ifa_addr->sa_family == AF_INET6) {
      found = std::memcmp(&reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0;
    }
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

bool RequestGuard::IsThisMachine(std::string_view hostHeader) {
  const std::string host = HostPart(hostHeader);
  if (host.empty()) return false;
  // RFC 6761: "localhost" and names below it always mean this machine.
  if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"))) return true;
  if (IsLocalInterfaceAddress(host)) return true;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
    const std::string own = Lower(name);
    if (host == own || host == own + ".local") return true;
  }
  return false;
}

std::string RequestGuard::Check(const HttpRequest& request, bool endpoint) const {
  // An HTTP/1.0 client may send no Host at all; it is no browser.
  if (!request.host.empty() && !IsThisMachine(request.host)) {
    return "host " + request.host + " is not this machine";
  }
  if (!endpoint) return {};
  if (Lower(request.secFetchSite) == "cross-site") {
    return "the browser marked it as sent by another site";
  }
  if (!request.origin.empty()) {
    // "http://host[:port]" must name the host and port the request went to.
    const std::string origin = Lower(request.origin);
    constexpr std::string_view kHttp = "http://";
    if (!origin.starts_with(kHttp)) return "it came from " + request.origin;
    const std::string_view originHost = std::string_view(origin).substr(kHttp.size());
    if (request.host.empty() || HostPart(originHost) != HostPart(request.host) ||
        PortPart(originHost) != PortPart(request.host)) {
      return "it came from " + request.origin;
    }
  }
  return {};
}

}  // namespace ktr
