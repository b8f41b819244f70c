#include "web_service.h"

#include <utility>

#include "ktr_device.h"

namespace ktr {

WebService::WebService(TKtrDevice& device, std::string webRoot, HttpServerOptions options)
    : loadWeb_(std::move(webRoot)),
      cgiHandler_(device),
      parser_(loadWeb_, cgiHandler_, &guard_, [&device](const std::string& line) { device.Log(line); }),
      options_(std::move(options)) {}

WebService::~WebService() { Stop(); }

std::string WebService::Start(const std::string& address, std::uint16_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  server_.reset();
  HttpServerOptions options = options_;
  options.address = address;
  options.port = port;
  auto server = std::make_unique<HttpServer>(
      [this](const HttpRequest& request, HttpResponse& response) { parser_.Handle(request, response); },
      std::move(options));
  std::string error = server->Start();
  if (error.empty()) server_ = std::move(server);
  return error;
}

void WebService::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  server_.reset();
}

bool WebService::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_ && server_->running();
}

std::uint16_t WebService::port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_ ? server_->port() : 0;
}

}  // namespace ktr
