// The only source that includes Beast: it is slow to compile.
#include "http_server.h"

// <utility> before Asio: Boost 1.74's asio/awaitable.hpp uses std::exchange
// without including it, which fails under C++20 with g++ 12.
#include <utility>

#include <array>
#include <atomic>
#include <exception>
#include <string_view>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace ktr {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// After an error reply (400, 413, 431) the client may still be sending the
// rest of its request. Closing a socket with unread data makes the kernel send
// a reset, which can destroy the reply before the client has read it, so the
// server stops sending and reads and drops what still arrives, at most this
// long, before it closes.
constexpr std::chrono::milliseconds kLingerTime{1000};

// A failed accept other than a dropped handshake (e.g. out of file
// descriptors) is retried after this pause instead of in a busy loop.
constexpr std::chrono::milliseconds kAcceptRetry{100};
// Files up to this size are read whole and sent with their header in one write.
constexpr std::uint64_t kInMemoryFileLimit = 1024 * 1024;

// POSIX: SO_REUSEADDR lets a restarted server bind its port while connections
// of the previous run are still in TIME_WAIT (the server closes first, so
// they are on our side); it never lets two listeners share a port. On
// Windows the same option would let another program take the port over, so
// it stays off there.
#ifdef _WIN32
constexpr bool kReuseListenAddress = false;
#else
constexpr bool kReuseListenAddress = true;
#endif

bool IsHandledMethod(std::string_view method) {
  return method == "GET" || method == "POST" || method == "HEAD";
}

bool ExpectsContinue(beast::string_view expect) {
  return beast::iequals(expect, "100-continue");
}

// An error of the HTTP parser (as opposed to one of the socket).
bool IsParseError(const beast::error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_target).category();
}

// One accepted connection: reads one request, answers it, closes. All its
// handlers run on the connection's strand. When the last reference goes, the
// `finished` callback lets the slot accept the next connection.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, const HttpServer::Handler& handler,
             const HttpServerOptions& options, std::function<void()> finished)
      : stream_(std::move(socket)),
        handler_(handler),
        options_(options),
        finished_(std::move(finished)),
        deadline_(Clock::now() + options.readTimeout) {
    parser_.header_limit(static_cast<std::uint32_t>(options.headerLimit));
    parser_.body_limit(static_cast<std::uint64_t>(options.bodyLimit));
  }

  ~Connection() {
    if (finished_) finished_();
  }

  void Run() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->ReadHeader(); });
  }

 private:
  void ReadHeader() {
    // One deadline for the whole request: a client that trickles bytes
    // cannot stretch it.
    stream_.expires_at(deadline_);
    http::async_read_header(stream_, buffer_, parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              self->OnHeader(ec);
                            });
  }

  void OnHeader(beast::error_code ec) {
    if (ec) return OnReadError(ec);
    if (parser_.is_done()) return Respond();
    if (ExpectsContinue(parser_.get()[http::field::expect])) {
      // The client waits (a while) for this before it sends the body, as curl
      // does for larger bodies; the announced size is within the limit, or
      // the header read would have failed.
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                       [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (error) return;
                         self->ReadBody();
                       });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    stream_.expires_at(deadline_);
    http::async_read(stream_, buffer_, parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->OnReadError(ec);
                       self->Respond();
                     });
  }

  void OnReadError(beast::error_code ec) {
    if (ec == http::error::header_limit) return SendError(431);
    if (ec == http::error::body_limit) return SendError(413);
    // Time-out (the stream has closed the socket already), the client went
    // away, or the connection broke: nothing to answer.
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
    request.body = std::move(message.body());

    HttpResponse response;
    if (IsHandledMethod(request.method)) {
      try {
        handler_(request, response);
      } catch (const std::exception& e) {
        response = ErrorResponse(e.what());
      } catch (...) {
        response = ErrorResponse("Internal Server Error");
      }
    }
    Send(std::move(response), request.method == "HEAD", false);
  }

  static HttpResponse ErrorResponse(const char* what) {
    HttpResponse response;
    response.status = 500;
    response.charset = "utf-8";
    response.text = what;
    return response;
  }

  void SendError(int status) {
    HttpResponse response;
    response.status = status;
    Send(std::move(response), false, true);
  }

  template <class Body>
  void PrepareHeader(http::response<Body>& reply, const HttpResponse& response,
                     std::uint64_t length) {
    reply.result(static_cast<unsigned>(response.status));
    reply.reason(ReasonPhrase(response.status));
    reply.set(http::field::server, options_.serverName);
    reply.set(http::field::content_type,
              ContentTypeHeader(response.contentType, response.charset));
    reply.content_length(length);
    reply.keep_alive(false);  // "Connection: close": one request per connection
  }

  void Send(HttpResponse response, bool headOnly, bool linger) {
    linger_ = linger;
    if (response.file && response.file.size() <= kInMemoryFileLimit) {
      // A page, script or picture of the configurator is a few KiB: read it
      // whole and send header and body in one write, instead of the file
      // body's 4 KiB reads and writes.
      std::string bytes(static_cast<std::size_t>(response.file.size()), '\0');
      std::FILE* f = response.file.Release();
      const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      if (got == bytes.size()) {
        response.text = std::move(bytes);
      } else {
        response = ErrorResponse("The file could not be read");
      }
    }
    if (response.file) {
      using FileBody = http::basic_file_body<beast::file_stdio>;
      http::response<FileBody> reply{http::status::ok, 11};
      beast::file_stdio file;
      file.native_handle(response.file.Release());
      beast::error_code ec;
      reply.body().reset(std::move(file), ec);
      if (!ec) {
        PrepareHeader(reply, response, reply.body().size());
        return Write(std::move(reply), headOnly);
      }
      response = ErrorResponse(ec.message().c_str());
    }
    http::response<http::string_body> reply{http::status::ok, 11};
    reply.body() = response.text ? std::move(*response.text) : DefaultPage(response.status);
    PrepareHeader(reply, response, reply.body().size());
    Write(std::move(reply), headOnly);
  }

  template <class Body>
  void Write(http::response<Body>&& reply, bool headOnly) {
    auto message = std::make_shared<http::response<Body>>(std::move(reply));
    auto serializer = std::make_shared<http::response_serializer<Body>>(*message);
    stream_.expires_after(options_.writeTimeout);
    auto done = [self = shared_from_this(), message, serializer](beast::error_code ec,
                                                                  std::size_t) {
      self->OnSent(ec);
    };
    if (headOnly) {
      http::async_write_header(stream_, *serializer, std::move(done));
    } else {
      http::async_write(stream_, *serializer, std::move(done));
    }
  }

  void OnSent(beast::error_code ec) {
    if (ec) return;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    if (linger_) {
      stream_.expires_after(kLingerTime);
      Drain();
    }
    // Otherwise the socket closes when the connection object goes.
  }

  void Drain() {
    stream_.async_read_some(net::buffer(drain_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (!ec) self->Drain();
                            });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  http::request_parser<http::string_body> parser_;
  const HttpServer::Handler& handler_;
  const HttpServerOptions& options_;
  std::function<void()> finished_;
  Clock::time_point deadline_;
  bool linger_ = false;
  std::array<char, 4096> drain_{};
};

}  // namespace

struct HttpServer::Impl {
  Impl(const Handler& handler, const HttpServerOptions& options)
      : handler_(handler), options_(options) {}

  std::string Listen();
  void Accept();
  void RetryAccept();

  const Handler& handler_;
  const HttpServerOptions& options_;
  // Declared before the io_context: connections that the io_context destroys
  // with their pending handlers read it in their destructors.
  std::atomic<bool> stopping{false};
  net::io_context ioc;
  net::executor_work_guard<net::io_context::executor_type> work{ioc.get_executor()};
  // The acceptor is shared by the slots; its operations start on this strand.
  net::strand<net::io_context::executor_type> acceptStrand{ioc.get_executor()};
  tcp::acceptor acceptor{ioc};
  std::uint16_t boundPort = 0;
  std::vector<std::thread> threads;
};

std::string HttpServer::Impl::Listen() {
  const std::string where = options_.address.empty()
                                ? "port " + std::to_string(options_.port)
                                : options_.address + " port " + std::to_string(options_.port);
  const auto failure = [&where](const beast::error_code& ec) {
    return "Cannot listen on " + where + ": " + ec.message();
  };

  const auto tryListen = [this](const net::ip::address& address, bool dualStack) {
    beast::error_code ec;
    const tcp::endpoint endpoint(address, options_.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec && dualStack) acceptor.set_option(net::ip::v6_only(false), ec);
    if (!ec && kReuseListenAddress) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(options_.backlog, ec);
    if (ec) {
      beast::error_code ignored;
      acceptor.close(ignored);
    }
    return ec;
  };

  beast::error_code ec;
  if (options_.address.empty()) {
    // Every local address: one IPv6 socket that also takes IPv4, so that
    // "localhost" works whichever address family the browser tries first;
    // plain IPv4 where the system has no IPv6.
    ec = tryListen(net::ip::address_v6::any(), true);
    if (ec) ec = tryListen(net::ip::address_v4::any(), false);
  } else {
    const net::ip::address address = net::ip::make_address(options_.address, ec);
    if (ec) return failure(ec);
    ec = tryListen(address, false);
  }
  if (ec) return failure(ec);
  boundPort = acceptor.local_endpoint(ec).port();
  return ec ? failure(ec) : std::string();
}

void HttpServer::Impl::Accept() {
  net::post(acceptStrand, [this] {
    acceptor.async_accept(
        net::make_strand(ioc),
        net::bind_executor(acceptStrand, [this](beast::error_code ec, tcp::socket socket) {
          if (stopping) return;
          if (ec) {
            if (ec == net::error::operation_aborted) return;
            if (ec == net::error::connection_aborted) return Accept();
            return RetryAccept();
          }
          auto connection = std::make_shared<Connection>(std::move(socket), handler_, options_,
                                                         [this] {
                                                           if (!stopping) Accept();
                                                         });
          connection->Run();
        }));
  });
}

void HttpServer::Impl::RetryAccept() {
  auto timer = std::make_shared<net::steady_timer>(acceptStrand, kAcceptRetry);
  timer->async_wait([this, timer](beast::error_code ec) {
    if (!ec && !stopping) Accept();
  });
}

HttpServer::HttpServer(Handler handler, HttpServerOptions options)
    : handler_(std::move(handler)), options_(std::move(options)) {}

HttpServer::~HttpServer() { Stop(); }

std::string HttpServer::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (impl_) return "The HTTP server is already running";
  if (options_.connections < 1) return "The HTTP server needs at least one connection thread";
  auto impl = std::make_unique<Impl>(handler_, options_);
  const std::string error = impl->Listen();
  if (!error.empty()) return error;
  for (int i = 0; i < options_.connections; ++i) impl->Accept();
  for (int i = 0; i < options_.connections; ++i) {
    impl->threads.emplace_back([io = &impl->ioc] { io->run(); });
  }
  impl_ = std::move(impl);
  return {};
}

void HttpServer::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!impl_) return;
  impl_->stopping = true;
  impl_->ioc.stop();
  for (auto& thread : impl_->threads) thread.join();
  // Closes the listening socket; destroying the io_context destroys the
  // connections that were still open, which closes their sockets.
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
