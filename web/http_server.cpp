// The only source that includes Beast: it is slow to compile. Beast parses
// the requests; the sockets are plain blocking-style POSIX calls on the
// connection threads, so that a request costs no hand-offs between threads.
// The replies go out through http_reply.h.
#include "http_server.h"

// <utility> before Asio: Boost 1.74's asio/awaitable.hpp uses std::exchange
// without including it, which fails under C++20 with g++ 12.
#include <utility>

#include <atomic>
#include <exception>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "http_reply.h"
#include "socket_io.h"
#include "thread_name.h"

namespace ktr {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = socket_io::Clock;
using socket_io::Io;

// A failed accept other than a dropped handshake (e.g. out of file
// descriptors) is retried after this pause instead of in a busy loop.
constexpr std::chrono::milliseconds kAcceptRetry{100};

// What the connection threads share.
struct ServerContext {
  const HttpServer::Handler& handler;
  const HttpServerOptions& options;
  std::atomic<bool> stopping{false};
  // Every wait of a connection watches it.
  socket_io::StopSignal stop{};
};

bool IsHandledMethod(std::string_view method) {
  return method == "GET" || method == "POST" || method == "HEAD";
}

bool ExpectsContinue(beast::string_view expect) { return beast::iequals(expect, "100-continue"); }

// An error of the HTTP parser (as opposed to one of the socket).
bool IsParseError(const beast::error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_target).category();
}

// One accepted connection on the thread that accepted it: reads one request
// against one deadline, answers it, closes.
class Connection {
 public:
  Connection(socket_io::Handle socket, const ServerContext& server, InputBuffer& input)
      : socket_(socket),
        server_(server),
        options_(server.options),
        input_(input),
        reply_(socket, server.stop, server.options, input),
        deadline_(Clock::now() + server.options.readTimeout) {
    parser_.header_limit(static_cast<std::uint32_t>(options_.headerLimit));
    parser_.body_limit(static_cast<std::uint64_t>(options_.bodyLimit));
    input_.Clear();
  }

  void Serve() {
    // The header first, so that a client waiting for "100 Continue" gets it.
    parser_.eager(false);
    beast::error_code ec = Read([this] { return parser_.is_header_done(); });
    if (ec) return OnReadError(ec);
    if (!parser_.is_done() && ExpectsContinue(parser_.get()[http::field::expect])) {
      // The client waits (a while) for this before it sends the body, as curl
      // does for larger bodies; the announced size is within the limit, or
      // the header read would have failed.
      if (!reply_.SendAll("HTTP/1.1 100 Continue\r\n\r\n", {}, deadline_)) return;
    }
    parser_.eager(true);
    ec = Read([this] { return parser_.is_done(); });
    if (ec) return OnReadError(ec);
    // Stop() lets a running callback finish but starts no new one.
    if (server_.stopping.load(std::memory_order_acquire)) return;
    Respond();
  }

 private:
  // Feeds the parser from the input buffer and the socket until `done()`.
  // Returns the parser's error, or a socket error, end_of_stream or timeout
  // (which get no reply).
  template <class Done>
  beast::error_code Read(Done done) {
    bool needMore = input_.Unparsed().empty();
    for (;;) {
      if (done()) return {};
      if (needMore) {
        if (const beast::error_code ec = Receive()) return ec;
      }
      const std::string_view unparsed = input_.Unparsed();
      beast::error_code ec;
      input_.Consume(parser_.put(net::const_buffer(unparsed.data(), unparsed.size()), ec));
      if (ec == http::error::need_more) {
        needMore = true;
        continue;
      }
      if (ec) return ec;
      needMore = input_.Unparsed().empty();
    }
  }

  // Appends what the client has sent, waiting for it until the deadline.
  beast::error_code Receive() {
    const auto [room, size] = input_.Room();
    for (;;) {
      const socket_io::IoResult got = socket_io::ReceiveSome(socket_, room, size);
      switch (got.status) {
        case Io::kDone: input_.Commit(got.bytes); return {};
        case Io::kClosed: return http::error::end_of_stream;
        case Io::kFailed: return net::error::connection_reset;
        case Io::kWouldBlock: break;
      }
      if (!socket_io::WaitReady(socket_, false, server_.stop, deadline_)) return beast::error::timeout;
    }
  }

  void OnReadError(const beast::error_code& ec) {
    if (ec == http::error::header_limit) return SendError(431);
    if (ec == http::error::body_limit) return SendError(413);
    // Time-out, Stop, the client went away, or the connection broke: nothing
    // to answer.
    if (ec == beast::error::timeout || ec == http::error::end_of_stream ||
        ec == http::error::partial_message || !IsParseError(ec)) {
      return;
    }
    SendError(400);  // any other parse error: bad request line or header
  }

  void Respond() {
    auto& message = parser_.get();
    HttpRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    request.contentType = std::string(message[http::field::content_type]);
    request.host = std::string(message[http::field::host]);
    request.origin = std::string(message[http::field::origin]);
    request.secFetchSite = std::string(message["Sec-Fetch-Site"]);
    request.expectAddress = std::string(message["X-Expect-Address"]);
    request.body = std::move(message.body());

    HttpResponse response;
    if (IsHandledMethod(request.method)) {
      try {
        server_.handler(request, response);
      } catch (const std::exception& e) {
        response = StatusReply(500, e.what());
      } catch (...) {
        response = StatusReply(500, "Internal Server Error");
      }
    }
    reply_.Send(std::move(response), request.method == "HEAD", false);
  }

  // An error the server answers itself: its own page for the status.
  void SendError(int status) { reply_.Send(StatusReply(status, DefaultPage(status)), false, true); }

  const socket_io::Handle socket_;
  const ServerContext& server_;
  const HttpServerOptions& options_;
  InputBuffer& input_;
  ReplyWriter reply_;
  const Clock::time_point deadline_;  // for the whole request
  http::request_parser<http::string_body> parser_;
};

}  // namespace

struct HttpServer::Impl {
  Impl(const Handler& handler, const HttpServerOptions& options) : context{handler, options} {}
  // Stops and joins the threads before the sockets close.
  ~Impl();

  std::string Listen();
  std::string StartThreads();
  void Serve();

  ServerContext context;
  socket_io::Socket listener;
  std::uint16_t boundPort = 0;
  std::vector<std::thread> threads;
};

std::string HttpServer::Impl::Listen() {
  const HttpServerOptions& options = context.options;
  const std::string where = options.address.empty()
                                ? "port " + std::to_string(options.port)
                                : options.address + " port " + std::to_string(options.port);
  const auto failure = [&where](const beast::error_code& ec) {
    return "Cannot listen on " + where + ": " + ec.message();
  };

  if (std::string error = context.stop.Open(); !error.empty()) {
    return "Cannot listen on " + where + ": " + error;
  }

  // Asio sets the socket up (one code path with its error texts on every
  // platform); the connection threads then use the bare descriptor.
  net::io_context ioc;
  tcp::acceptor acceptor(ioc);
  const auto tryListen = [&](const net::ip::address& address, bool dualStack) {
    beast::error_code ec;
    const tcp::endpoint endpoint(address, options.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec && dualStack) acceptor.set_option(net::ip::v6_only(false), ec);
    if (!ec) {
      const int error = socket_io::PrepareToBind(static_cast<socket_io::Handle>(acceptor.native_handle()));
      if (error != 0) ec.assign(error, net::error::get_system_category());
    }
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(options.backlog, ec);
    if (ec) {
      beast::error_code ignored;
      acceptor.close(ignored);
    }
    return ec;
  };

  beast::error_code ec;
  if (options.address.empty()) {
    // Every local address: one IPv6 socket that also takes IPv4, so that
    // "localhost" works whichever address family the browser tries first;
    // plain IPv4 where the system has no IPv6.
    ec = tryListen(net::ip::address_v6::any(), true);
    if (ec) ec = tryListen(net::ip::address_v4::any(), false);
  } else {
    const net::ip::address address = net::ip::make_address(options.address, ec);
    if (ec) return failure(ec);
    ec = tryListen(address, false);
  }
  if (ec) return failure(ec);
  boundPort = acceptor.local_endpoint(ec).port();
  if (ec) return failure(ec);
  listener = socket_io::Socket(static_cast<socket_io::Handle>(acceptor.release(ec)));
  if (ec) return failure(ec);
  if (std::string error = socket_io::PrepareListener(listener.get()); !error.empty()) {
    return "Cannot listen on " + where + ": " + error;
  }
  return {};
}

std::string HttpServer::Impl::StartThreads() {
  try {
    for (int i = 0; i < context.options.connections; ++i) threads.emplace_back([this] { Serve(); });
  } catch (const std::system_error& e) {
    return std::string("Cannot start the HTTP connection threads: ") + e.what();
  }
  return {};
}

HttpServer::Impl::~Impl() {
  context.stopping.store(true, std::memory_order_release);
  // Wakes every connection waiting to read or write, then every thread
  // waiting for a connection.
  context.stop.Raise();
  socket_io::StopAccepting(listener.get());
  for (auto& thread : threads) thread.join();
}

// One connection thread: accept, serve, close, over and over. The kernel
// hands each new connection to one of the threads blocked in accept();
// while all are busy, connections wait in the listen backlog.
void HttpServer::Impl::Serve() {
  NameThisThread("ktr-http");
  InputBuffer input;
  while (!context.stopping.load(std::memory_order_acquire)) {
    socket_io::Socket connection;
    switch (socket_io::Accept(listener.get(), context.stop, connection)) {
      case socket_io::Accepted::kConnection: Connection(connection.get(), context, input).Serve(); break;
      case socket_io::Accepted::kRetry: break;
      case socket_io::Accepted::kPause:
        if (!context.stopping.load(std::memory_order_acquire)) {
          socket_io::Pause(context.stop, kAcceptRetry);
        }
        break;
    }
  }
}

HttpServer::HttpServer(Handler handler, HttpServerOptions options)
    : handler_(std::move(handler)), options_(std::move(options)) {}

HttpServer::~HttpServer() { Stop(); }

std::string HttpServer::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (impl_) return "The HTTP server is already running";
  if (options_.connections < 1) return "The HTTP server needs at least one connection thread";
  auto impl = std::make_unique<Impl>(handler_, options_);
  std::string error = impl->Listen();
  if (error.empty()) error = impl->StartThreads();
  if (!error.empty()) return error;  // the threads that did start are joined
  impl_ = std::move(impl);
  return {};
}

void HttpServer::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Closes the listening socket and every connection once the threads are
  // joined.
  impl_.reset();
}

bool HttpServer::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return impl_ != nullptr;
}

std::uint16_t HttpServer::port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return impl_ ? impl_->boundPort : 0;
}

}  // namespace ktr
