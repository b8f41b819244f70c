// The HTTP server component on its own, with request callbacks written here:
// the exact reply bytes, header rules, methods, HEAD, exceptions, file
// bodies, malformed and oversized requests.
#include "http_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "http_client.h"
#include "server_fixture.h"

namespace ktr::test {
namespace {

TEST_F(ServerTest, ReplyHeadersAreExactlyTheseBytes) {
  StartServer();
  const Reply reply = Get(port_, "/x");
  EXPECT_EQ(reply.raw,
            "HTTP/1.1 200 OK\r\n"
            "Server: WebServerOrvo\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Length: 5\r\n"
            "Connection: close\r\n"
            "\r\n"
            "hello");
}

struct ContentTypeCase {
  std::string type;
  std::string charset;
  std::string header;
};

TEST_F(ServerTest, ContentTypeHeaderFollowsTypeAndCharset) {
  const std::vector<ContentTypeCase> cases{
      {"", "", "text/html; charset=utf-8"},
      {"", "koi8-r", "text/html; charset=koi8-r"},
      {"text/html", "", "text/html; charset=ISO-8859-1"},
      {"text/html", "utf-8", "text/html; charset=utf-8"},
      {"image/png", "utf-8", "image/png; charset=utf-8"},
      {"text/css", "", "text/css; charset=ISO-8859-1"},
      {"application/json", "", "application/json"},
  };
  std::atomic<std::size_t> current{0};
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    response.contentType = cases[current].type;
    response.charset = cases[current].charset;
    response.text = "x";
  };
  StartServer();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    current = i;
    const Reply reply = Get(port_, "/");
    EXPECT_EQ(reply.Header("Content-Type"), cases[i].header)
        << "type '" << cases[i].type << "' charset '" << cases[i].charset << "'";
    EXPECT_EQ(reply.HeaderCount("Content-Type"), 1u);
  }
}

TEST_F(ServerTest, StatusLineCarriesTheReasonPhrase) {
  handler_ = [](const HttpRequest&, HttpResponse& response) {
    response.status = 404;
    response.text = "404 Not Found";
  };
  StartServer();
  const Reply reply = Get(port_, "/");
  EXPECT_EQ(reply.statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(reply.body, "404 Not Found");
  EXPECT_EQ(reply.Header("Content-Length"), "13");
}

TEST_F(ServerTest, EmptyTextIsAnEmptyBodyAndNoTextIsTheDefaultPage) {
  std::atomic<bool> setText{true};
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    if (setText) response.text = "";
  };
  StartServer();
  Reply reply = Get(port_, "/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Length"), "0");
  EXPECT_EQ(reply.body, "");

  setText = false;
  reply = Get(port_, "/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, DefaultPage(200));
  EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(DefaultPage(200).size()));
}

TEST_F(ServerTest, CallbackSeesMethodRawTargetContentTypeAndBody) {
  StartServer();
  Request(port_, "POST", "/a%20b.cgi?x=1&y=%41", "application/x-www-form-urlencoded; charset=UTF-8",
          std::string("k=v&z=\x01\xff", 8));
  // A chunked body arrives joined.
  Exchange(port_,
           "POST /c HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
           "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  const auto seen = Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].target, "/a%20b.cgi?x=1&y=%41");
  EXPECT_EQ(seen[0].contentType, "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(seen[0].body, std::string("k=v&z=\x01\xff", 8));
  EXPECT_EQ(seen[1].body, "abcde");
}

TEST_F(ServerTest, OtherMethodsGetTheDefaultPageWithoutTheCallback) {
  StartServer();
  for (const std::string method : {"PUT", "DELETE", "OPTIONS", "PATCH", "TRACE", "FOO", "get", "Post"}) {
    const Reply reply = Request(port_, method, "/index.html", "text/plain", "data");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK") << method;
    EXPECT_EQ(reply.body, DefaultPage(200)) << method;
    EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=utf-8") << method;
    EXPECT_EQ(reply.Header("Server"), "WebServerOrvo") << method;
  }
  EXPECT_EQ(calls_, 0);
}

TEST_F(ServerTest, HeadSendsHeadersOnlyWithTheLengthOfTheBody) {
  handler_ = [](const HttpRequest& request, HttpResponse& response) {
    EXPECT_EQ(request.method, "HEAD");
    response.status = 400;
    response.contentType = "text/html";
    response.text = "400 Bad Request";
  };
  StartServer();
  const Reply reply = Request(port_, "HEAD", "/index.html");
  EXPECT_EQ(reply.raw,
            "HTTP/1.1 400 Bad Request\r\n"
            "Server: WebServerOrvo\r\n"
            "Content-Type: text/html; charset=ISO-8859-1\r\n"
            "Content-Length: 15\r\n"
            "Connection: close\r\n"
            "\r\n");
  EXPECT_EQ(calls_, 1);
}

TEST_F(ServerTest, ExceptionBecomes500WithItsText) {
  std::atomic<int> kind{0};
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    response.contentType = "image/png";  // dropped with the exception
    response.text = "partial";
    if (kind == 0) throw std::runtime_error("'12x' is not a valid integer value");
    if (kind == 1) throw 42;
    response.text = "fine";
  };
  StartServer();
  Reply reply = Get(port_, "/setdata.cgi");
  EXPECT_EQ(reply.raw,
            "HTTP/1.1 500 Internal Server Error\r\n"
            "Server: WebServerOrvo\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Length: 34\r\n"
            "Connection: close\r\n"
            "\r\n"
            "'12x' is not a valid integer value");

  reply = Request(port_, "HEAD", "/x");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.Header("Content-Length"), "34");
  EXPECT_EQ(reply.body, "");

  kind = 1;
  reply = Get(port_, "/x");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, "Internal Server Error");

  // The server goes on serving.
  kind = 2;
  EXPECT_EQ(Get(port_, "/").body, "fine");
}

TEST_F(ServerTest, FileBodyIsSentByteForByte) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("ktr-file-body-" + std::to_string(::getpid()))).string();
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));
  std::ofstream(path, std::ios::binary) << bytes;
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    response.file = FileStream::OpenRegular(path);
    response.contentType = "image/png";
    response.charset = "utf-8";
  };
  StartServer();
  Reply reply = Get(port_, "/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(bytes.size()));
  EXPECT_EQ(reply.Header("Content-Type"), "image/png; charset=utf-8");
  EXPECT_TRUE(reply.body == bytes);

  reply = Request(port_, "HEAD", "/");
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(bytes.size()));
  EXPECT_EQ(reply.body, "");
  std::filesystem::remove(path);
}

TEST(FileStreamTest, OpensRegularFilesOnly) {
  const auto folder = std::filesystem::temp_directory_path();
  EXPECT_FALSE(FileStream::OpenRegular(folder.string()));
  EXPECT_FALSE(FileStream::OpenRegular((folder / "ktr-no-such-file").string()));
  EXPECT_FALSE(FileStream::OpenRegular("/dev/null"));
  const std::string fifo = (folder / ("ktr-fifo-" + std::to_string(::getpid()))).string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(FileStream::OpenRegular(fifo));  // and does not block
  std::filesystem::remove(fifo);
}

TEST_F(ServerTest, MalformedRequestsGet400) {
  StartServer();
  const std::vector<std::string> requests{
      "GARBAGE\r\n\r\n",
      "GET\r\n\r\n",
      "GET /\r\n\r\n",
      "GET / FTP/1.1\r\n\r\n",
      " / HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nNoColonHere\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: abc\r\n\r\n",
      "GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
      std::string("\x01\x02\x03\r\n\r\n"),
      "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
  };
  for (const std::string& request : requests) {
    const Reply reply = Exchange(port_, request);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 400 Bad Request") << request;
    EXPECT_EQ(reply.Header("Server"), "WebServerOrvo") << request;
    EXPECT_EQ(reply.Header("Content-Length"), std::to_string(reply.body.size())) << request;
  }
  EXPECT_EQ(calls_, 0);
}

TEST_F(ServerTest, OversizeHeadersAndBodiesAreRefused) {
  HttpServerOptions options;
  options.headerLimit = 2048;
  options.bodyLimit = 1000;
  StartServer(options);

  Reply reply = Exchange(port_, "GET / HTTP/1.1\r\nX-Big: " + std::string(4000, 'a') + "\r\n\r\n");
  EXPECT_EQ(reply.statusLine, "HTTP/1.1 431 Request Header Fields Too Large");

  // Announced too long: refused before the body is read.
  reply = Exchange(port_, "POST /login.cgi HTTP/1.1\r\nContent-Length: 1001\r\n\r\n");
  EXPECT_EQ(reply.statusLine, "HTTP/1.1 413 Payload Too Large");
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(reply.body.size()));

  // Sent too long, in chunks.
  std::string chunked = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) chunked += "190\r\n" + std::string(400, 'b') + "\r\n";
  chunked += "0\r\n\r\n";
  reply = Exchange(port_, chunked);
  EXPECT_EQ(reply.status, 413);

  // At the limits: served.
  reply = Request(port_, "POST", "/", "text/plain", std::string(1000, 'c'));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(calls_, 1);
}

TEST_F(ServerTest, LargeAnnouncedBodyIsRefusedWhileTheClientKeepsSending) {
  HttpServerOptions options;
  options.bodyLimit = 1000;
  StartServer(options);
  ClientSocket client(port_);
  client.Send("POST / HTTP/1.1\r\nContent-Length: 5000000\r\n\r\n");
  // Keep sending until the server has stopped reading; the reply must still
  // arrive intact.
  const std::string chunk(64 * 1024, 'z');
  for (int i = 0; i < 10 && client.Send(chunk); ++i) {
    if (client.WaitReadable(0ms)) break;
  }
  const Reply reply = ParseReply(client.ReadToClose(10s));
  EXPECT_EQ(reply.statusLine, "HTTP/1.1 413 Payload Too Large");
}

TEST_F(ServerTest, ExpectContinueGetsContinueBeforeTheBody) {
  StartServer();
  ClientSocket client(port_);
  client.Send("POST /x HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n");
  ASSERT_TRUE(client.WaitReadable(10s));
  client.Send("abc");
  const std::string raw = client.ReadToClose(10s);
  ASSERT_EQ(raw.rfind("HTTP/1.1 100 Continue\r\n\r\n", 0), 0u) << raw;
  const Reply reply = ParseReply(raw.substr(25));
  EXPECT_EQ(reply.status, 200);
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(Seen()[0].body, "abc");
}

TEST_F(ServerTest, RepliesCarryConnectionCloseAndTheServerCloses) {
  StartServer();
  ClientSocket client(port_);
  // Two requests in one packet: the first is answered, then the server closes.
  client.Send("GET /1 HTTP/1.1\r\nHost: a\r\n\r\nGET /2 HTTP/1.1\r\nHost: a\r\n\r\n");
  bool closed = false;
  const Reply reply = ParseReply(client.ReadToClose(10s, &closed));
  EXPECT_TRUE(closed);
  EXPECT_EQ(reply.Header("Connection"), "close");
  EXPECT_EQ(reply.HeaderCount("Connection"), 1u);
  EXPECT_EQ(reply.body, "hello");
  EXPECT_EQ(calls_, 1);
}

}  // namespace
}  // namespace ktr::test
