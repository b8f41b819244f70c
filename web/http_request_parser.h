// HttpRequestParser: the server's request callback. It takes the request's
// path and parameter text into two short buffers and sends file requests to
// LoadWeb and endpoint requests (a path holding ".cgi") to CgiHandler.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "http_message.h"

namespace ktr {

class CgiHandler;
class LoadWeb;
class RequestGuard;

// Both buffers hold at most this many bytes; longer texts are cut, never
// refused. They are C strings in the device firmware's tradition: a text ends
// at its first zero byte.
inline constexpr std::size_t kRequestTextLimit = 199;

// The path buffer of a request target: the path without "?" and what follows,
// percent-escapes decoded ("+" stays "+"; a "%" without two hex digits stays
// as it is), ended at the first zero byte, cut to kRequestTextLimit. An
// absolute target ("http://host/path") gives its path.
std::string RequestPath(std::string_view target);
// The parameter buffer of a GET: the raw query text after the first "?",
// without percent-decoding, ended at a zero byte, cut to kRequestTextLimit.
std::string QueryParameters(std::string_view target);
// The parameter buffer of a POST: the raw body when the media type is
// "application/x-www-form-urlencoded" (any letter case, parameters such as
// "; charset=UTF-8" allowed), else empty; ended at a zero byte, cut to
// kRequestTextLimit.
std::string FormParameters(std::string_view contentType, std::string_view body);

class HttpRequestParser {
 public:
  using LogFn = std::function<void(const std::string& line)>;

  // All must outlive the parser. With a guard, a request it refuses gets
  // 403 "403 Forbidden" and one log line, and reaches nothing else.
  HttpRequestParser(const LoadWeb& loadWeb, const CgiHandler& cgiHandler, const RequestGuard* guard = nullptr,
                    LogFn log = nullptr);

  // GET: ".cgi" in the path -> CgiHandler with the query text, else LoadWeb.
  // POST: ".cgi" in the path -> CgiHandler with the form body, else the
  // response stays untouched (the server's own 200 page).
  // HEAD: 400 "text/html" "400 Bad Request".
  // FieldConversionError from the endpoints passes through (the server
  // answers it with 500).
  void Handle(const HttpRequest& request, HttpResponse& response) const;

 private:
  const LoadWeb& loadWeb_;
  const CgiHandler& cgiHandler_;
  const RequestGuard* guard_;
  LogFn log_;
};

}  // namespace ktr
