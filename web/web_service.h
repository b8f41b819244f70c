// WebService: the configurator's web side in one object, for the front ends
// (the window and `ktr-cli serve`): the HTTP server with HttpRequestParser,
// LoadWeb and CgiHandler for one TKtrDevice and one web root.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "cgi_handler.h"
#include "http_request_parser.h"
#include "http_server.h"
#include "load_web.h"
#include "request_guard.h"

namespace ktr {

class TKtrDevice;

class WebService {
 public:
  // `device` must outlive the service. `options` give the limits and
  // time-outs; address and port come with Start.
  WebService(TKtrDevice& device, std::string webRoot, HttpServerOptions options = {});
  ~WebService();
  WebService(const WebService&) = delete;
  WebService& operator=(const WebService&) = delete;

  // Listens on `address` (empty: every local address) and `port` (0: a free
  // one). Returns an empty text, or why the server could not listen. A
  // running service is stopped first.
  [[nodiscard]] std::string Start(const std::string& address, std::uint16_t port);
  // Idempotent.
  void Stop();
  bool running() const;
  // The bound port; 0 when not running.
  std::uint16_t port() const;

 private:
  LoadWeb loadWeb_;
  CgiHandler cgiHandler_;
  RequestGuard guard_;
  HttpRequestParser parser_;
  HttpServerOptions options_;
  mutable std::mutex mutex_;
  std::unique_ptr<HttpServer> server_;
};

}  // namespace ktr
