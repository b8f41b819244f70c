// Fuzz target: the HTTP front end. The input is used twice:
// 1. as raw request bytes, parsed with the HTTP parser and limits the server
//    uses, and the parsed request handed to HttpRequestParser, once without
//    and once with the request guard (Host, Origin, Sec-Fetch-Site);
// 2. as a raw request target of a GET (the path and parameter buffers and
//    LoadWeb see bytes no well-formed request line would carry).
// The web root is a temporary folder with a few pages; beside and above it
// lie files that no request may reach. The device's port cannot be opened,
// so endpoint requests end at once with their "Error open port !!!".
// Checked for every input:
// - a file handed to the server lies inside the web root (its real path,
//   read back from /proc/self/fd);
// - no reply text carries the secret files' content;
// - the path and parameter buffers hold at most 199 bytes and no zero byte;
// - a path that LoadWeb lets through never climbs above the root when its
//   "." and ".." segments are resolved ("/" and "\" both separating);
// - the only exception that leaves the handler is the field conversion
//   error (which the server turns into a 500).
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

// <utility> before Boost: Boost 1.74's Asio uses std::exchange without it.
#include <utility>

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http.hpp>

#include "cgi_handler.h"
#include "fuzz_check.h"
#include "http_message.h"
#include "http_request_parser.h"
#include "http_server.h"
#include "ktr_device.h"
#include "load_web.h"
#include "modbus_master.h"
#include "request_fields.h"
#include "request_guard.h"

namespace {

namespace fs = std::filesystem;
namespace http = boost::beast::http;

using ktr::fuzz::Check;

constexpr std::string_view kSecret = "KTR-FUZZ-SECRET-4d2a";

void WriteFile(const fs::path& path, std::string_view content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

struct Harness;
Harness& TheHarness();

struct Harness {
  std::string base;
  std::string root;      // what LoadWeb is given
  std::string realRoot;  // the same, all links resolved
  ktr::TModbus modbus;
  ktr::TKtrDevice device{modbus, nullptr, nullptr};
  std::unique_ptr<ktr::LoadWeb> loadWeb;
  std::unique_ptr<ktr::CgiHandler> cgi;
  std::unique_ptr<ktr::HttpRequestParser> parser;
  ktr::RequestGuard guard;
  std::unique_ptr<ktr::HttpRequestParser> guarded;

  Harness() {
    std::string pattern = (fs::temp_directory_path() / "ktr-fuzz-web-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
    base = pattern;
    root = base + "/Web";
    WriteFile(root + "/index.html", "<html>index</html>");
    WriteFile(root + "/css/site.css", "body{}");
    WriteFile(root + "/js/app.js", "let a=1;");
    WriteFile(root + "/images/favicon.ico", std::string("\0\0\1\0", 4));
    fs::create_directories(root + "/empty");
    // What must stay out of reach: beside the root, in a sibling whose name
    // starts like the root's, and one level up.
    WriteFile(base + "/secret.txt", kSecret);
    WriteFile(base + "/Web-old/secret.txt", kSecret);
    WriteFile(base + "/Webx", kSecret);
    realRoot = fs::canonical(root).string();
    // The harness lives until the process ends; its folder goes with it.
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(TheHarness().base, ec);
    });

    ktr::SerialSettings s;
    s.portName = "/dev/ktr-fuzz-no-such-port";
    device.SetSettings(s);
    loadWeb = std::make_unique<ktr::LoadWeb>(root);
    cgi = std::make_unique<ktr::CgiHandler>(device);
    parser = std::make_unique<ktr::HttpRequestParser>(*loadWeb, *cgi);
    guarded = std::make_unique<ktr::HttpRequestParser>(*loadWeb, *cgi, &guard, [](const std::string&) {});
  }
};

Harness& TheHarness() {
  static Harness* harness = new Harness();  // lives until the process ends
  return *harness;
}

// Resolves "." and ".." of a path below the root; false when it climbs out.
bool ResolvesInside(std::string_view path) {
  int depth = 0;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = path.find_first_of("/\\", start);
    const std::string_view segment =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (segment == "..") {
      if (--depth < 0) return false;
    } else if (!segment.empty() && segment != ".") {
      ++depth;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

void CheckResponse(Harness& h, ktr::HttpResponse& response) {
  if (response.file) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(response.file.get()));
    char real[PATH_MAX + 1] = {};
    const ssize_t n = readlink(link, real, PATH_MAX);
    Check(n > 0, "readlink of the served file");
    const std::string served(real, static_cast<std::size_t>(n));
    Check(served.rfind(h.realRoot + "/", 0) == 0, "a file outside the web root was served");
  }
  if (response.text) {
    Check(response.text->find(kSecret) == std::string::npos, "secret text in a reply");
  }
  Check(response.status == 200 || response.status == 400 || response.status == 403 || response.status == 404,
        "unexpected status");
}

void Handle(Harness& h, const ktr::HttpRequestParser& parser, const ktr::HttpRequest& request) {
  ktr::HttpResponse response;
  try {
    parser.Handle(request, response);
  } catch (const ktr::FieldConversionError&) {
    return;  // the server's 500
  }
  CheckResponse(h, response);
}

// A path or parameter buffer: at most 199 bytes, no zero byte.
void CheckBuffer(const std::string& buffer) {
  Check(buffer.size() <= ktr::kRequestTextLimit, "buffer longer than 199 bytes");
  Check(buffer.find('\0') == std::string::npos, "zero byte inside a buffer");
}

void CheckBuffers(const ktr::HttpRequest& request) {
  const std::string path = ktr::RequestPath(request.target);
  CheckBuffer(path);
  CheckBuffer(ktr::QueryParameters(request.target));
  CheckBuffer(ktr::FormParameters(request.contentType, request.body));
  if (ktr::LoadWeb::StaysInsideRoot(path)) {
    Check(ResolvesInside(path), "a path that climbs out of the root passes the check");
  }
}

void ParseAndHandle(Harness& h, std::string_view bytes) {
  const ktr::HttpServerOptions limits;  // the server's defaults
  http::request_parser<http::string_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(limits.headerLimit));
  parser.body_limit(static_cast<std::uint64_t>(limits.bodyLimit));
  parser.eager(true);
  boost::beast::error_code ec;
  std::size_t used = 0;
  while (used < bytes.size() && !parser.is_done()) {
    const std::size_t n = parser.put(boost::asio::buffer(bytes.data() + used, bytes.size() - used), ec);
    used += n;
    if (ec || n == 0) break;
  }
  if (!parser.is_done()) return;  // the server would answer 400/413/431 or wait for more

  auto& message = parser.get();
  ktr::HttpRequest request;
  request.method = std::string(message.method_string());
  request.target = std::string(message.target());
  request.contentType = std::string(message[http::field::content_type]);
  request.body = message.body();
  request.host = std::string(message[http::field::host]);
  request.origin = std::string(message[http::field::origin]);
  request.secFetchSite = std::string(message["Sec-Fetch-Site"]);
  CheckBuffers(request);
  // The server hands only these three methods to the handler.
  if (request.method == "GET" || request.method == "POST" || request.method == "HEAD") {
    Handle(h, *h.parser, request);
    Handle(h, *h.guarded, request);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& h = TheHarness();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ParseAndHandle(h, bytes);

  ktr::HttpRequest get;
  get.method = "GET";
  get.target = std::string(bytes);
  CheckBuffers(get);
  Handle(h, *h.parser, get);
  return 0;
}
