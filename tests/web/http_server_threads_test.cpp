// The HTTP server's connection threads, each blocking in accept and then on
// its one connection: Stop while they wait, silent clients and clients that
// do not read, connections left in the backlog at Stop, large files sent in
// pieces, descriptors not inherited by programs started beside the server,
// and the request headers and status codes the threads pass on.
#include "http_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "server_fixture.h"
#include "spawned_process.h"

namespace ktr::test {
namespace {

std::size_t ThreadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// How long Stop() takes; a generous bound on it tells "returns" from
// "waits for a time-out" (10 s and more here).
std::chrono::milliseconds TimeStop(HttpServer& server) {
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// A file of `size` bytes with a pattern that shows any shifted or lost piece.
class TempFile {
 public:
  explicit TempFile(std::size_t size)
      : path_((std::filesystem::temp_directory_path() /
               ("ktr-threads-" + std::to_string(::getpid()) + "-" + std::to_string(size)))
                  .string()) {
    bytes_.resize(size);
    for (std::size_t i = 0; i < size; ++i) bytes_[i] = static_cast<char>((i * 31 + i / 4093) % 251);
    std::ofstream(path_, std::ios::binary).write(bytes_.data(), static_cast<std::streamsize>(size));
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string path_;
  std::string bytes_;
};

TEST_F(ServerTest, StopReturnsWhileEveryThreadWaitsInAccept) {
  // A first round, so that threads a sanitizer or the library starts lazily
  // exist before counting.
  StartServer();
  server_->Stop();
  const std::size_t before = ThreadCount();
  for (int round = 0; round < 20; ++round) {
    StartServer();
    EXPECT_EQ(ThreadCount(), before + 5);
    if (round % 2 == 0) {
      EXPECT_EQ(Get(port_, "/").body, "hello");
    }
    EXPECT_LT(TimeStop(*server_), 5s) << "round " << round;
    EXPECT_FALSE(server_->running());
    EXPECT_THROW(ClientSocket{port_}, std::runtime_error);
  }
  EXPECT_EQ(ThreadCount(), before);
}

TEST_F(ServerTest, SilentClientsHoldOnlyTheirOwnThreads) {
  HttpServerOptions options;
  options.readTimeout = 60s;
  StartServer(options);
  std::vector<std::unique_ptr<ClientSocket>> silent;
  for (int i = 0; i < 4; ++i) silent.push_back(std::make_unique<ClientSocket>(port_));
  // The fifth thread serves everyone else, one after the other.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Get(port_, "/" + std::to_string(i)).body, "hello") << i;
  EXPECT_EQ(calls_, 10);
  // Stop does not wait for their read time-out.
  EXPECT_LT(TimeStop(*server_), 10s);
  for (auto& client : silent) {
    bool closed = false;
    EXPECT_EQ(client->ReadToClose(10s, &closed), "");
    EXPECT_TRUE(closed);
  }
}

TEST_F(ServerTest, StopResetsConnectionsLeftInTheBacklogAfterRunningCallbacks) {
  Gate gate;
  handler_ = [&](const HttpRequest& request, HttpResponse& response) {
    gate.Enter();
    response.text = request.target;
  };
  StartServer();
  std::vector<std::unique_ptr<ClientSocket>> busy;
  for (int i = 0; i < 5; ++i) {
    busy.push_back(std::make_unique<ClientSocket>(port_));
    busy.back()->Send("GET /busy HTTP/1.1\r\n\r\n");
  }
  ASSERT_TRUE(gate.WaitInside(5, 20s));
  ClientSocket waiting(port_);  // in the backlog: no thread is free
  waiting.Send("GET /waiting HTTP/1.1\r\n\r\n");
  std::thread stopper([this] { server_->Stop(); });
  std::this_thread::sleep_for(100ms);
  gate.Open();
  stopper.join();
  bool closed = false;
  EXPECT_EQ(waiting.ReadToClose(10s, &closed), "");
  EXPECT_TRUE(closed);
  EXPECT_EQ(calls_, 5);
  for (auto& client : busy) {
    closed = false;
    client->ReadToClose(10s, &closed);
    EXPECT_TRUE(closed);
  }
}

TEST_F(ServerTest, LargeFilesGoOutWholeInPieces) {
  const TempFile file(3 * 1024 * 1024 + 17);
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    response.file = FileStream::OpenRegular(file.path());
    response.contentType = "application/octet-stream";
  };
  StartServer();
  Reply reply = Get(port_, "/big");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(file.bytes().size()));
  EXPECT_EQ(reply.Header("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(reply.body == file.bytes()) << "got " << reply.body.size() << " bytes";

  reply = Request(port_, "HEAD", "/big");
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(file.bytes().size()));
  EXPECT_EQ(reply.body, "");
}

TEST_F(ServerTest, ClientThatDoesNotReadIsDroppedAfterTheWriteTimeOut) {
  // More than loopback's socket buffers on both sides hold.
  const TempFile file(48 * 1024 * 1024);
  handler_ = [&](const HttpRequest& request, HttpResponse& response) {
    if (request.target == "/big") {
      response.file = FileStream::OpenRegular(file.path());
    } else {
      response.text = "small";
    }
  };
  HttpServerOptions options;
  options.writeTimeout = 300ms;
  StartServer(options);
  ClientSocket reader(port_);
  reader.Send("GET /big HTTP/1.1\r\n\r\n");
  std::this_thread::sleep_for(1500ms);  // takes nothing meanwhile
  bool closed = false;
  const std::string got = reader.ReadToClose(20s, &closed);
  EXPECT_TRUE(closed);
  EXPECT_LT(got.size(), file.bytes().size());
  EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(Get(port_, "/small").body, "small");
}

TEST_F(ServerTest, StopDoesNotWaitForAClientThatDoesNotRead) {
  const TempFile file(48 * 1024 * 1024);
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    response.file = FileStream::OpenRegular(file.path());
  };
  StartServer();  // write time-out 30 s
  ClientSocket reader(port_);
  reader.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(reader.WaitReadable(10s));
  std::this_thread::sleep_for(200ms);
  EXPECT_LT(TimeStop(*server_), 10s);  // write time-out 30 s
  bool closed = false;
  reader.ReadToClose(20s, &closed);
  EXPECT_TRUE(closed);
}

TEST_F(ServerTest, ProgramsStartedBesideTheServerDoNotKeepItsPort) {
  StartServer();
  // A connection is open while the application starts a program (a
  // browser); the program must hold neither it nor the listening socket.
  ClientSocket open(port_);
  open.Send("GET / HTTP/1.1\r\n");
  ktr::test::SpawnedProcess child("/bin/sh", {"-c", "echo ready; exec sleep 60"}, "ready");
  open.Send("\r\n");
  bool closed = false;
  EXPECT_EQ(ParseReply(open.ReadToClose(10s, &closed)).body, "hello");
  EXPECT_TRUE(closed);
  EXPECT_EQ(StopAndRestartOnTheSamePort(), "");
  EXPECT_EQ(Get(port_, "/").body, "again");
}

TEST_F(ServerTest, CallbackSeesHostOriginAndFetchSite) {
  StartServer();
  Exchange(port_,
           "POST /setdata.cgi HTTP/1.1\r\nhost: 127.0.0.1:8080\r\nOrigin: http://evil.example\r\n"
           "sec-fetch-site: cross-site\r\nContent-Length: 0\r\n\r\n");
  Exchange(port_, "GET / HTTP/1.1\r\n\r\n");
  const auto seen = Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].host, "127.0.0.1:8080");
  EXPECT_EQ(seen[0].origin, "http://evil.example");
  EXPECT_EQ(seen[0].secFetchSite, "cross-site");
  EXPECT_EQ(seen[1].host, "");
  EXPECT_EQ(seen[1].origin, "");
  EXPECT_EQ(seen[1].secFetchSite, "");
}

struct StatusCase {
  int status;
  std::string statusLine;
  std::string body;
};

TEST_F(ServerTest, StatusOutsideThreeDigitsBecomes500) {
  const std::vector<StatusCase> cases{
      {100, "HTTP/1.1 100 Continue", "x"},
      {999, "HTTP/1.1 999 Unknown", "x"},
      {99, "HTTP/1.1 500 Internal Server Error", "Invalid HTTP status code 99"},
      {0, "HTTP/1.1 500 Internal Server Error", "Invalid HTTP status code 0"},
      {-200, "HTTP/1.1 500 Internal Server Error", "Invalid HTTP status code -200"},
      {1000, "HTTP/1.1 500 Internal Server Error", "Invalid HTTP status code 1000"},
  };
  std::atomic<std::size_t> current{0};
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    response.status = cases[current].status;
    response.text = "x";
  };
  StartServer();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    current = i;
    const Reply reply = Get(port_, "/");
    EXPECT_EQ(reply.statusLine, cases[i].statusLine) << cases[i].status;
    EXPECT_EQ(reply.body, cases[i].body) << cases[i].status;
    EXPECT_EQ(reply.Header("Content-Length"), std::to_string(cases[i].body.size()));
  }
}

}  // namespace
}  // namespace ktr::test
