// The HTTP server component's connection handling: read time-outs, the five
// connection threads and the backlog, many clients at once, start and stop,
// listening errors and addresses.
#include "http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "server_fixture.h"

namespace ktr::test {
namespace {

TEST_F(ServerTest, SilentClientsAreDroppedAfterTheReadTimeOut) {
  HttpServerOptions options;
  options.readTimeout = 300ms;
  StartServer(options);
  std::vector<std::unique_ptr<ClientSocket>> silent;
  for (int i = 0; i < 5; ++i) silent.push_back(std::make_unique<ClientSocket>(port_));
  // A client that trickles a byte now and then is held to the same deadline.
  ClientSocket trickle(port_);
  // All five slots are held; this one is served once they are dropped.
  const Reply reply = Get(port_, "/");
  EXPECT_EQ(reply.body, "hello");
  for (auto& client : silent) {
    bool closed = false;
    EXPECT_EQ(client->ReadToClose(10s, &closed), "");  // no reply, just closed
    EXPECT_TRUE(closed);
  }
  bool closed = false;
  std::string got;
  const std::string request = "GET / HTTP/1.1\r\nHost: a\r\n";
  for (std::size_t i = 0; i < request.size() && !closed; ++i) {
    trickle.Send(request.substr(i, 1));
    if (trickle.WaitReadable(100ms)) got = trickle.ReadToClose(10s, &closed);
  }
  if (!closed) got = trickle.ReadToClose(10s, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(got, "");
  EXPECT_EQ(calls_, 1);
}

TEST_F(ServerTest, FiveRequestsRunAtOnceAndFurtherOnesWaitInTheBacklog) {
  Gate gate;
  handler_ = [&](const HttpRequest& request, HttpResponse& response) {
    gate.Enter();
    response.text = request.target;
  };
  StartServer();
  constexpr int kClients = 8;
  std::vector<Reply> replies(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] { replies[i] = Get(port_, "/" + std::to_string(i)); });
  }
  ASSERT_TRUE(gate.WaitInside(5, 20s));
  // The three others are connected (the kernel completed their handshakes)
  // but no connection thread takes them while five are busy.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(gate.inside(), 5);
  gate.Open();
  for (auto& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(replies[i].status, 200) << i;
    EXPECT_EQ(replies[i].body, "/" + std::to_string(i));
  }
  EXPECT_EQ(calls_, kClients);
}

TEST_F(ServerTest, ManyConcurrentClientsAllGetTheirOwnReply) {
  handler_ = [](const HttpRequest& request, HttpResponse& response) {
    response.text = std::string(1000, 'x') + request.target;
  };
  StartServer();
  constexpr int kClients = 40;
  std::vector<Reply> replies(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] { replies[i] = Get(port_, "/c" + std::to_string(i)); });
  }
  for (auto& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) {
    const std::string body = std::string(1000, 'x') + "/c" + std::to_string(i);
    EXPECT_EQ(replies[i].body, body);
    EXPECT_EQ(replies[i].Header("Content-Length"), std::to_string(body.size()));
  }
}

TEST_F(ServerTest, StopAbortsOpenConnectionsAndIsIdempotent) {
  StartServer();
  ClientSocket idle(port_);
  idle.Send("GET / HTTP/1.1\r\n");  // incomplete: held by its connection thread
  std::this_thread::sleep_for(100ms);
  server_->Stop();
  EXPECT_FALSE(server_->running());
  EXPECT_EQ(server_->port(), 0);
  bool closed = false;
  EXPECT_EQ(idle.ReadToClose(10s, &closed), "");
  EXPECT_TRUE(closed);
  server_->Stop();
  EXPECT_THROW(ClientSocket{port_}, std::runtime_error);
}

TEST_F(ServerTest, StopWaitsForARunningCallback) {
  Gate gate;
  std::atomic<bool> finished{false};
  handler_ = [&](const HttpRequest&, HttpResponse& response) {
    gate.Enter();
    response.text = "late";
    finished = true;
  };
  StartServer();
  ClientSocket client(port_);
  client.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(gate.WaitInside(1, 20s));
  std::thread stopper([&] { server_->Stop(); });
  std::this_thread::sleep_for(100ms);
  gate.Open();
  stopper.join();
  EXPECT_TRUE(finished);
  EXPECT_FALSE(server_->running());
  bool closed = false;
  client.ReadToClose(10s, &closed);
  EXPECT_TRUE(closed);
}

TEST_F(ServerTest, StartTwiceFailsAndRestartOnTheSamePortWorks) {
  StartServer();
  EXPECT_NE(server_->Start(), "");
  EXPECT_EQ(Get(port_, "/").body, "hello");  // still serving
  const std::uint16_t port = port_;
  // Connections of the first run are in TIME_WAIT on the server's side.
  ASSERT_EQ(StopAndRestartOnTheSamePort(), "");
  EXPECT_EQ(server_->port(), port);
  EXPECT_EQ(Get(port, "/").body, "again");
}

TEST_F(ServerTest, BusyPortOrBadAddressGivesAnErrorText) {
  StartServer();
  HttpServerOptions options;
  options.address = "127.0.0.1";
  options.port = port_;
  HttpServer second([](const HttpRequest&, HttpResponse&) {}, options);
  const std::string error = second.Start();
  EXPECT_EQ(error.rfind("Cannot listen on 127.0.0.1 port " + std::to_string(port_) + ": ", 0), 0u) << error;
  EXPECT_GT(error.size(), std::string("Cannot listen on 127.0.0.1 port : ").size() + 5);
  EXPECT_FALSE(second.running());
  second.Stop();  // harmless

  options.address = "300.1.2.3";
  HttpServer bad([](const HttpRequest&, HttpResponse&) {}, options);
  EXPECT_NE(bad.Start(), "");
  EXPECT_EQ(Get(port_, "/").body, "hello");  // the first one is untouched
}

TEST_F(ServerTest, EveryLocalAddressAnswersOnBothLoopbacks) {
  HttpServerOptions options;
  options.port = 0;  // address left empty
  HttpServer server([](const HttpRequest&, HttpResponse& response) { response.text = "any"; }, options);
  ASSERT_EQ(server.Start(), "");
  EXPECT_EQ(Get(server.port(), "/").body, "any");
  // Browsers may try "localhost" as ::1 first.
  std::unique_ptr<ClientSocket> v6;
  try {
    v6 = std::make_unique<ClientSocket>(server.port(), Loopback::kIpv6);
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  v6->Send("GET / HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_EQ(ParseReply(v6->ReadToClose(10s)).body, "any");
}

}  // namespace
}  // namespace ktr::test
