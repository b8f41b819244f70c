// CgiHandler: the route table of the 21 endpoints. The one place where
// endpoint paths are named.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "http_message.h"

namespace ktr {

class TKtrDevice;
namespace test {
struct CgiTestAccess;  // tests/support/cgi_test_access.h
}

class CgiHandler {
 public:
  static constexpr std::size_t kRouteCount = 21;

  // `device` must outlive the handler.
  explicit CgiHandler(TKtrDevice& device);
  ~CgiHandler();
  CgiHandler(const CgiHandler&) = delete;
  CgiHandler& operator=(const CgiHandler&) = delete;

  // Compares `path` exactly (case-sensitive, whole text) with the routes in
  // table order and calls the first match: status 200 with the handler's
  // text as the body and no content type of its own ("text/html;
  // charset=utf-8" on the wire); an empty text is an empty body. A reply
  // that touched the device carries its device status (deviceStatus) and the
  // bus address it went to (deviceAddress). The Bus page's "/find_all.cgi"
  // and the device choice "/select_device.cgi" follow the 21 routes. No match:
  // 404, "text/html", "404 Not Found". `parameters` reaches Login,
  // SetSchedData and SetData. A read without parameters that arrives while
  // the same read still waits for the device gets that read's reply (body
  // and headers); the writes' access cycles go before waiting reads. The
  // FieldConversionError that the last two
  // throw for a value that is no integer passes through to the server.
  // `expectedAddress` (a write's X-Expect-Address, 0 when none): a write
  // whose page shows another device than the one in use is refused under
  // the device lock with 409 and nothing is sent.
  void Dispatch(HttpResponse& response, const std::string& path, const std::string& parameters,
                int expectedAddress = 0) const;

  // The route paths in table order.
  static std::array<std::string_view, kRouteCount> RoutePaths();

  // Reads of a block that arrive while the same read waits for the device
  // share its result instead of each taking a device cycle of its own.
  class SharedReads;

 private:
  friend struct test::CgiTestAccess;
  // Requests that took the reply of an identical read so far.
  std::size_t SharedReplies() const;

  TKtrDevice& device_;
  std::unique_ptr<SharedReads> shared_;
};

}  // namespace ktr
