// HttpServer: a small HTTP/1.1 server. A fixed number of connection threads
// (5) each block in accept on the one listening socket, read one request,
// answer it and close the connection, all on that thread; a connection beyond
// the fifth waits in the listen backlog until a thread is free. The request
// callback runs on the connection's thread and may block (device requests
// wait for the device mutex).
//
// What the server does itself:
// - every reply carries "Server", "Content-Type" (ContentTypeHeader),
//   "Content-Length" and "Connection: close";
// - GET, POST and HEAD go to the callback; any other method gets status 200
//   and the server's own page (DefaultPage);
// - a reply to HEAD is sent as headers only, with the Content-Length of the
//   body that the callback produced;
// - an exception from the callback becomes status 500 with its what() as the
//   body, character set "utf-8";
// - a request line or header that cannot be parsed gets 400, headers beyond
//   the header limit 431, a body beyond the body limit 413; the connection is
//   then closed;
// - a client that has not sent its whole request within the read time-out is
//   disconnected without a reply; a client that does not take the reply
//   within the write time-out is disconnected;
// - a status outside 100-999 (no valid status line) becomes status 500.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "http_message.h"

namespace ktr {

struct HttpServerOptions {
  // Empty: every local address (IPv6 and IPv4 where the system has both).
  std::string address;
  std::uint16_t port = 80;  // 0: the system picks a free port; see port()
  int backlog = 10;
  int connections = 5;  // connection threads, one request each at a time
  std::string serverName = "WebServerOrvo";
  // For the whole request, from accept to its last body byte.
  std::chrono::milliseconds readTimeout{10000};
  // For the whole reply.
  std::chrono::milliseconds writeTimeout{30000};
  std::size_t headerLimit = 8 * 1024;
  std::size_t bodyLimit = 64 * 1024;
};

class HttpServer {
 public:
  using Handler = std::function<void(const HttpRequest& request, HttpResponse& response)>;

  HttpServer(Handler handler, HttpServerOptions options);
  // Stops the server.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds, listens and starts the connection threads. Returns an empty text
  // on success, else why the server could not listen (for the operator),
  // e.g. "Cannot listen on port 80: Permission denied". Starting a running
  // server returns an error text and changes nothing.
  [[nodiscard]] std::string Start();
  // Closes the listening socket (connections still waiting in its backlog
  // are reset), aborts open connections and joins the threads. A callback
  // that is running finishes first; its reply goes out as far as the socket
  // takes it without waiting. Idempotent.
  void Stop();

  bool running() const;
  // The port the server listens on (the bound one when options.port is 0);
  // 0 when not running.
  std::uint16_t port() const;

 private:
  struct Impl;

  Handler handler_;
  HttpServerOptions options_;
  mutable std::mutex mutex_;  // guards impl_ against concurrent Start/Stop
  std::unique_ptr<Impl> impl_;
};

}  // namespace ktr
