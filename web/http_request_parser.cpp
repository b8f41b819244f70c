#include "http_request_parser.h"

#include <cctype>

#include "cgi_handler.h"
#include "load_web.h"
#include "request_guard.h"

namespace ktr {

namespace {

// The text up to its first zero byte, at most kRequestTextLimit bytes.
std::string RequestText(std::string_view text) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  return std::string(text.substr(0, kRequestTextLimit));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    decoded.push_back(text[i]);
  }
  return decoded;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string RequestPath(std::string_view target) {
  const std::size_t question = target.find('?');
  std::string_view path = target.substr(0, question);
  // Absolute form, as sent to proxies: "http://host:port/path".
  for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
    if (StartsWithNoCase(path, scheme)) {
      const std::size_t slash = path.find('/', scheme.size());
      path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
      break;
    }
  }
  return RequestText(PercentDecode(path));
}

std::string QueryParameters(std::string_view target) {
  const std::size_t question = target.find('?');
  if (question == std::string_view::npos) return {};
  return RequestText(target.substr(question + 1));
}

std::string FormParameters(std::string_view contentType, std::string_view body) {
  const std::string_view mediaType = Trim(contentType.substr(0, contentType.find(';')));
  constexpr std::string_view kForm = "application/x-www-form-urlencoded";
  if (mediaType.size() != kForm.size() || !StartsWithNoCase(mediaType, kForm)) return {};
  return RequestText(body);
}

namespace {

// The X-Expect-Address header of a write: the bus address (1-247) the
// page believes it writes to; 0 when absent or no such address.
int ExpectedAddress(const std::string& text) {
  if (text.empty() || text.size() > 3) return 0;
  int n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= 247 ? n : 0;
}

}  // namespace

HttpRequestParser::HttpRequestParser(const LoadWeb& loadWeb, const CgiHandler& cgiHandler,
                                     const RequestGuard* guard, LogFn log)
    : loadWeb_(loadWeb), cgiHandler_(cgiHandler), guard_(guard), log_(std::move(log)) {}

void HttpRequestParser::Handle(const HttpRequest& request, HttpResponse& response) const {
  std::string path = RequestPath(request.target);
  const bool endpoint = path.find(".cgi") != std::string::npos;
  if (guard_ != nullptr) {
    if (const std::string reason = guard_->Check(request, endpoint); !reason.empty()) {
      response = StatusReply(403, "403 Forbidden");
      if (log_) log_("Refused " + request.method + " " + path + ": " + reason);
      return;
    }
  }
  if (request.method == "GET") {
    const std::string parameters = QueryParameters(request.target);
    if (endpoint) {
      cgiHandler_.Dispatch(response, path, parameters);
    } else {
      loadWeb_.Serve(response, std::move(path));
    }
  } else if (request.method == "POST") {
    const std::string parameters = FormParameters(request.contentType, request.body);
    if (endpoint) cgiHandler_.Dispatch(response, path, parameters, ExpectedAddress(request.expectAddress));
  } else {
    // The server passes only GET, POST and HEAD: this is HEAD.
    response = StatusReply(400, "400 Bad Request", "");
  }
}

}  // namespace ktr
