// CgiHandler: the route table of the 21 endpoints. The one place where
// endpoint paths are named.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "http_message.h"

namespace ktr {

class TKtrDevice;

class CgiHandler {
 public:
  static constexpr std::size_t kRouteCount = 21;

  // `device` must outlive the handler.
  explicit CgiHandler(TKtrDevice& device);

  // Compares `path` exactly (case-sensitive, whole text) with the routes in
  // table order and calls the first match: status 200 with the handler's
  // text as the body and no content type of its own ("text/html;
  // charset=utf-8" on the wire); an empty text is an empty body. A reply
  // that touched the device carries its device status (deviceStatus). The
  // Bus page's "/find_all.cgi" follows the 21 routes. No match:
  // 404, "text/html", "404 Not Found". `parameters` reaches Login,
  // SetSchedData and SetData; the FieldConversionError that the last two
  // throw for a value that is no integer passes through to the server.
  void Dispatch(HttpResponse& response, const std::string& path, const std::string& parameters) const;

  // The route paths in table order.
  static std::array<std::string_view, kRouteCount> RoutePaths();

 private:
  TKtrDevice& device_;
};

}  // namespace ktr
