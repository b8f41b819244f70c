// RequestGuard: keeps web pages of other sites away from the endpoints.
//
// Any page the operator visits can make the browser send a request to
// http://localhost/setdata.cgi (a form POST or an image GET), and a site
// whose DNS name is re-pointed at 127.0.0.1 can even read the replies. So:
// - a request whose Host header names neither this machine nor one of its
//   addresses is refused (DNS rebinding);
// - an endpoint request that the browser marks as coming from another site
//   (an Origin header that differs from the Host, or "Sec-Fetch-Site:
//   cross-site") is refused.
// Clients that send neither Origin nor Sec-Fetch-Site (curl, scripts) and
// the bundled pages (same origin) pass.
#pragma once

#include <string>
#include <string_view>

#include "http_message.h"

namespace ktr {

class RequestGuard {
 public:
  // Empty when the request may pass; otherwise the reason, for the log.
  [[nodiscard]] std::string Check(const HttpRequest& request, bool endpoint) const;

  // True when `host` (a Host header value, with or without a port) names
  // this machine: "localhost", a loopback or local interface address, or the
  // machine's own name.
  static bool IsThisMachine(std::string_view host);
};

}  // namespace ktr
