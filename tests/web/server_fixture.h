// Fixture of the HTTP server tests: an HttpServer on 127.0.0.1 with a port
// the system picks and a request callback that each test may replace before
// starting it; the callback records every request it sees. Gate holds
// callbacks until a test releases them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "http_client.h"
#include "http_server.h"

namespace ktr::test {

class ServerTest : public ::testing::Test {
 protected:
  // Starts a server on 127.0.0.1 with a free port; `handler` may be replaced
  // per test before the call.
  void StartServer(HttpServerOptions options = {}) {
    options.address = "127.0.0.1";
    options.port = 0;
    server_ = std::make_unique<HttpServer>(
        [this](const HttpRequest& request, HttpResponse& response) {
          ++calls_;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(request);
          }
          handler_(request, response);
        },
        options);
    ASSERT_EQ(server_->Start(), "");
    port_ = server_->port();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override { server_.reset(); }

  // Stops the server and starts another one on the same port, answering
  // "again"; returns the error text of its Start ("" when it listens).
  std::string StopAndRestartOnTheSamePort() {
    const std::uint16_t port = port_;
    server_->Stop();
    HttpServerOptions options;
    options.address = "127.0.0.1";
    options.port = port;
    server_ = std::make_unique<HttpServer>(
        [](const HttpRequest&, HttpResponse& response) { response.text = "again"; }, options);
    return server_->Start();
  }

  std::vector<HttpRequest> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  std::function<void(const HttpRequest&, HttpResponse&)> handler_ =
      [](const HttpRequest&, HttpResponse& response) { response.text = "hello"; };
  std::unique_ptr<HttpServer> server_;
  std::uint16_t port_ = 0;
  std::atomic<int> calls_{0};

 private:
  std::mutex mutex_;
  std::vector<HttpRequest> seen_;
};

// A handler that holds every caller until released.
class Gate {
 public:
  void Enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++inside_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits (at most `timeout`) until `count` callers are inside.
  bool WaitInside(int count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return inside_ >= count; });
  }
  int inside() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inside_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int inside_ = 0;
  bool open_ = false;
};

}  // namespace ktr::test
