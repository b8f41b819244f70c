#include "request_guard.h"

#include <algorithm>
#include <cctype>

#include "local_machine.h"

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
  const std::string bytes = local_machine::AddressBytes(host);
  if (bytes.empty()) return false;
  // 127.0.0.0/8 and ::1 are this machine whatever the interfaces say.
  if (bytes.size() == 4 && bytes[0] == 127) return true;
  if (bytes == std::string(15, '\0') + '\1') return true;
  const std::vector<std::string> own = local_machine::InterfaceAddresses();
  return std::find(own.begin(), own.end(), bytes) != own.end();
}

}  // namespace

bool RequestGuard::IsThisMachine(std::string_view hostHeader) {
  const std::string host = HostPart(hostHeader);
  if (host.empty()) return false;
  // RFC 6761: "localhost" and names below it always mean this machine.
  if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"))) return true;
  if (IsLocalInterfaceAddress(host)) return true;
  if (const std::string own = Lower(local_machine::HostName()); !own.empty()) {
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
