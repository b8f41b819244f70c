// The route table over the wire against a real ktr-sim: every route answers
// exactly what its TKtrDevice handler returns for the same device state, as
// 200 "text/html; charset=utf-8"; anything else with ".cgi" is 404; a bad
// integer in a write is 500 and writes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cgi_handler.h"
#include "cgi_test_access.h"
#include "device_test_access.h"
#include "ktr_register_map.h"
#include "master_test_access.h"
#include "port_messages.h"
#include "web_fixture.h"

namespace ktr::test {
namespace {

using Handler = std::function<std::string(TKtrDevice&)>;

class CgiRoutesTest : public WebDeviceTest {
 protected:
  // The wire body for `target` next to the handler's own text. The clock
  // runs, so a reading between two equal direct calls is compared.
  void ExpectSameAsHandler(const std::string& target, const Handler& direct, bool touchesDevice) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      const std::string before = direct(*device_);
      const Reply reply = Get(target);
      const std::string after = direct(*device_);
      if (before != after) continue;
      EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK") << target;
      EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=utf-8") << target;
      EXPECT_EQ(reply.Header("Content-Length"), std::to_string(before.size())) << target;
      EXPECT_EQ(reply.body, before) << target;
      // Only a reply that touched the device says how the device did.
      if (touchesDevice) {
        EXPECT_FALSE(before.empty()) << target;
        EXPECT_EQ(reply.Header("X-Device-Status"), "ok") << target;
        EXPECT_EQ(reply.Header("X-Device-Address"), "1") << target;
      } else {
        EXPECT_EQ(reply.HeaderCount("X-Device-Status"), 0U) << target;
        EXPECT_EQ(reply.HeaderCount("X-Device-Address"), 0U) << target;
      }
      return;
    }
    ADD_FAILURE() << target << ": the handler's reply never held still";
  }
};

// A request for a route and the handler whose text it must answer. Empty
// for the write routes: here they only answer 200, their replies and effects
// are WriteRoutesReachTheDeviceWithTheParameterText's.
struct RouteCase {
  std::string target;
  Handler direct;
  bool touchesDevice = true;
};

// The cases of each route path (RequestPath of their targets).
std::multimap<std::string, RouteCase> RouteCases() {
  std::vector<RouteCase> cases{
      {"/get_index_data.cgi", [](TKtrDevice& d) { return d.GetIndexData(); }},
      // A query after the path does not stop the match.
      {"/get_index_data.cgi?t=1", [](TKtrDevice& d) { return d.GetIndexData(); }},
      {"/get_display_data.cgi", [](TKtrDevice& d) { return d.GetDisplayData(); }},
      {"/get_time_data.cgi", [](TKtrDevice& d) { return d.GetTimeData(); }},
      {"/get_counter_data.cgi", [](TKtrDevice& d) { return d.GetCounterData(); }},
      {"/get_set_data.cgi", [](TKtrDevice& d) { return d.GetSetData(); }},
      {"/get_sched_data.cgi&wed?x=1&y", [](TKtrDevice& d) { return d.GetSchedData(3); }},
      {"/get_web_data.cgi", [](TKtrDevice& d) { return d.GetWebData(); }, false},
      {"/get_config_status.cgi", [](TKtrDevice& d) { return d.GetConfigStatus(); }},
      {"/get_ktr_list.cgi", [](TKtrDevice& d) { return d.GetKtrList(); }, false},
      {"/logout.cgi", [](TKtrDevice& d) { return d.Logout(); }, false},
      {"/login.cgi?x&login_pssw:pelko", [](TKtrDevice& d) { return d.Login("x&login_pssw:pelko"); }, false},
      {"/login.cgi?login_pssw:pelk", [](TKtrDevice& d) { return d.Login("login_pssw:pelk"); }, false},
      {"/setdata.cgi?tmpe=3", {}},
      {"/set_sched_data.cgi?day=sun&ena=0", {}},
      {"/set_default.cgi", {}},
      {"/run_config.cgi", {}},
      // Beside the 21: SelectDeviceTest's.
      {"/find_all.cgi", [](TKtrDevice& d) { return d.FindAll(""); }, false},
      {"/select_device.cgi?address=1", {}},
  };
  const char* days[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
  for (int day = 0; day < 7; ++day) {
    cases.push_back({std::string("/get_sched_data.cgi&") + days[day],
                     [day](TKtrDevice& d) { return d.GetSchedData(day); }});
  }
  std::multimap<std::string, RouteCase> byPath;
  for (RouteCase& c : cases) byPath.emplace(RequestPath(c.target), std::move(c));
  return byPath;
}

// Over the product's table: every route answers what its handler returns,
// and a route without a case here fails.
TEST_F(CgiRoutesTest, EveryRouteAnswersWhatItsHandlerReturns) {
  ASSERT_TRUE(device_->SearchDevice(sim_->link(), {}));  // firmware text for the web data
  std::multimap<std::string, RouteCase> cases = RouteCases();
  const auto paths = CgiHandler::RoutePaths();
  EXPECT_EQ(std::set<std::string_view>(paths.begin(), paths.end()).size(), paths.size()) << "a path twice";
  for (const std::string_view path : paths) {
    const auto [first, last] = cases.equal_range(std::string(path));
    EXPECT_NE(first, last) << path << ": no case for this route";
    for (auto it = first; it != last; ++it) {
      const RouteCase& c = it->second;
      if (c.direct) {
        ExpectSameAsHandler(c.target, c.direct, c.touchesDevice);
      } else {
        EXPECT_EQ(Get(c.target).status, 200) << c.target;
      }
    }
    cases.erase(first, last);
  }
  for (const auto& [path, c] : cases) {
    if (path == "/find_all.cgi" || path == "/select_device.cgi") continue;  // beside the 21
    ADD_FAILURE() << c.target << ": not a route of the table";
  }

  // The web data reply names the firmware that the search found.
  EXPECT_NE(Get("/get_web_data.cgi").body.find(std::string(defaults::kFirmwareTextNew)), std::string::npos);

  // Read routes answer a POST the same way.
  const Reply post = Post("/get_display_data.cgi", "");
  EXPECT_EQ(post.status, 200);
  EXPECT_EQ(post.body, device_->GetDisplayData());
}

TEST_F(CgiRoutesTest, WriteRoutesReachTheDeviceWithTheParameterText) {
  // GET: the query is the parameter text.
  Reply reply = Get("/setdata.cgi?tmpe=7");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(reply.body, device_->SetData("tmpe=7"));
  EXPECT_EQ(ReadSim(reg::kDisplay.start, 1)[0], 7);

  // POST: the form body is.
  reply = Post("/setdata.cgi", "tmpe=9&dtpe=1");
  EXPECT_EQ(reply.body, device_->SetData("tmpe=9&dtpe=1"));
  EXPECT_EQ(ReadSim(reg::kDisplay.start, 2), (std::vector<std::uint16_t>{9, 3}));  // first field only

  ASSERT_EQ(ReadSim(reg::ScheduleDay(1).start, 1)[0], 1);  // Monday is on by default
  reply = Post("/set_sched_data.cgi", "day=mon&ena=0");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, device_->SetSchedData("day=mon&ena=0"));
  EXPECT_EQ(ReadSim(reg::ScheduleDay(1).start, 1)[0], 0);
  reply = Get("/set_sched_data.cgi?day=tue&ena=5");
  EXPECT_EQ(reply.body, device_->SetSchedData("day=tue&ena=5"));
  EXPECT_EQ(ReadSim(reg::ScheduleDay(2).start, 1)[0], 5);

  // Factory defaults: the reply, the device's registers, the address list.
  TakeAddressLists();
  reply = Get("/set_default.cgi");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, R"({"answer":"yes"})");
  EXPECT_EQ(ReadSim(reg::kDisplay.start, 1)[0], defaults::kDisplay[0]);
  EXPECT_EQ(TakeAddressLists(), (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(reply.body, device_->SetDefault());

  // Run configuration: an empty body, the command reached the device.
  EXPECT_EQ(ReadSim(reg::kConfigStatus, 1)[0], kConfigFactory);
  reply = Post("/run_config.cgi", "");
  EXPECT_EQ(reply.raw,
            "HTTP/1.1 200 OK\r\n"
            "Server: WebServerOrvo\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Length: 0\r\n"
            "X-Device-Status: ok\r\n"
            "X-Device-Address: 1\r\n"
            "Connection: close\r\n"
            "\r\n");
  EXPECT_EQ(ReadSim(reg::kConfigStatus, 1)[0], kConfigRunning);
}

TEST_F(CgiRoutesTest, PathsNotInTheTableGet404) {
  TakeLog();
  for (const std::string target : {"/get_sched_data.cgi",
                                   "/get_sched_data.cgi&SUN",
                                   "/get_sched_data.cgi&Sun",
                                   "/get_sched_data.cgi&sunday",
                                   "/get_sched_data.cgi&xyz",
                                   "/get_sched_data.cgi&sun/",
                                   "/get_sched_data.cgi?sun",
                                   "/GET_INDEX_DATA.cgi",
                                   "/Get_index_data.cgi",
                                   "/get_index_data.cgi/",
                                   "/get_index_data.cgix",
                                   "//get_index_data.cgi",
                                   "/x/get_index_data.cgi",
                                   "/get_index_data.cgi.bak",
                                   "/setdata.cgi/",
                                   "/SetData.cgi",
                                   "/login.cgi/",
                                   "/.cgi",
                                   "/run_config.cgi%20",
                                   "get_index_data.cgi"}) {
    const Reply reply = Get(target);
    EXPECT_EQ(reply.raw,
              "HTTP/1.1 404 Not Found\r\n"
              "Server: WebServerOrvo\r\n"
              "Content-Type: text/html; charset=ISO-8859-1\r\n"
              "Content-Length: 13\r\n"
              "Connection: close\r\n"
              "\r\n"
              "404 Not Found")
        << target;
  }
  EXPECT_TRUE(TakeLog().empty());
  EXPECT_EQ(ReadSim(reg::kConfigStatus, 1)[0], kConfigFactory);
}

TEST_F(CgiRoutesTest, BadIntegerIs500AndWritesNothing) {
  const std::vector<std::uint16_t> display = ReadSim(reg::kDisplay.start, 6);
  Reply reply = Get("/setdata.cgi?tmpe=12x");
  EXPECT_EQ(reply.raw,
            "HTTP/1.1 500 Internal Server Error\r\n"
            "Server: WebServerOrvo\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Length: 34\r\n"
            "Connection: close\r\n"
            "\r\n"
            "'12x' is not a valid integer value");

  reply = Post("/set_sched_data.cgi", "day=mon&idx=3&tp_status=1&tp_time=12%3A30&tp_len=5");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, "'3A' is not a valid integer value");

  reply = Post("/setdata.cgi", "tmpe=");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, "'' is not a valid integer value");

  EXPECT_EQ(ReadSim(reg::kDisplay.start, 6), display);
  const auto monday = defaults::ScheduleDay(1);
  EXPECT_EQ(ReadSim(reg::ScheduleDay(1).start, reg::kScheduleDayLength),
            std::vector<std::uint16_t>(monday.begin(), monday.end()));
  // The device cycle was left cleanly: the next request works.
  EXPECT_EQ(Get("/get_display_data.cgi").body, device_->GetDisplayData());
  EXPECT_FALSE(device_->GetDisplayData().empty());
}

TEST_F(CgiRoutesTest, UnreachableDeviceGivesAnEmptyBody) {
  PointAtMissingPort();
  TakeLog();
  const Reply reply = Get("/get_index_data.cgi");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Length"), "0");
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(reply.Header("X-Device-Status"), "port-error");
  EXPECT_EQ(TakeLog(), ktr::test::kMissingPortLog);
  // Endpoints without the device still answer.
  EXPECT_EQ(Get("/logout.cgi").body, R"({"answer":"yes"})");
  const Reply command = Get("/run_config.cgi");
  EXPECT_EQ(command.status, 200);
  EXPECT_EQ(command.Header("X-Device-Status"), "port-error");
}

TEST_F(CgiRoutesTest, ConcurrentRequestsAreAllAnswered) {
  // Device requests wait for each other on the device mutex; files and
  // requests that do not touch the device go on meanwhile.
  const std::vector<std::string> targets{
      "/get_display_data.cgi", "/get_counter_data.cgi",   "/index.html",
      "/get_ktr_list.cgi",     "/get_sched_data.cgi&fri", "/logout.cgi",
      "/get_set_data.cgi",     "/get_display_data.cgi",   "/index.html",
      "/get_counter_data.cgi", "/get_web_data.cgi",       "/get_sched_data.cgi&fri",
  };
  root_.Write("index.html", "page");
  std::vector<Reply> replies(targets.size());
  std::vector<std::thread> clients;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    clients.emplace_back([&, i] { replies[i] = Get(targets[i]); });
  }
  for (auto& client : clients) client.join();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    EXPECT_EQ(replies[i].status, 200) << targets[i];
    EXPECT_FALSE(replies[i].body.empty()) << targets[i];
    EXPECT_EQ(replies[i].Header("Content-Length"), std::to_string(replies[i].body.size()));
  }
  EXPECT_EQ(replies[0].body, replies[7].body);
  EXPECT_EQ(replies[4].body, device_->GetSchedData(5));
  EXPECT_EQ(replies[8].body, "page");
}

// Until `done()` holds; fails the test after 30 s.
template <typename Done>
void WaitUntil(Done done, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << what;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST_F(CgiRoutesTest, SelectDeviceChoosesTheDeviceOfEveryLaterRequest) {
  RestartDevice({"--address", "1", "--address", "5"});
  const std::string fw(defaults::kFirmwareTextNew);
  struct Case {
    std::string method, target, body;
    std::string reply;
    std::string deviceAddress;  // X-Device-Address; "" when the device was not asked
    int inUse;                  // the address of the next read
  };
  const std::vector<Case> cases{
      {"POST", "/select_device.cgi", "address=5",
       "{\"answer\":\"yes\",\"address\":5,\"firmware\":\"" + fw + "\",\"version\":\"0.35.4\"}", "5", 5},
      {"GET", "/select_device.cgi?address=9", "",
       R"j({"answer":"no","reason":"address 9 does not answer (error: -4 no reply)"})j", "9", 5},
      {"GET", "/select_device.cgi?address=0", "",
       R"j({"answer":"no","reason":"address 0 is outside 1-247"})j", "", 5},
      {"GET", "/select_device.cgi?address=248", "",
       R"j({"answer":"no","reason":"address 248 is outside 1-247"})j", "", 5},
      {"POST", "/select_device.cgi", "address=x",
       R"j({"answer":"no","reason":"'x' is no address (N from 1 to 247)"})j", "", 5},
      {"GET", "/select_device.cgi", "",
       R"j({"answer":"no","reason":"no address given (address=N, N from 1 to 247)"})j", "", 5},
      {"GET", "/select_device.cgi?address=1", "",
       "{\"answer\":\"yes\",\"address\":1,\"firmware\":\"" + fw + "\",\"version\":\"0.35.4\"}", "1", 1},
  };
  for (const Case& c : cases) {
    TakeAddressLists();
    const Reply reply = c.method == "GET" ? Get(c.target) : Post(c.target, c.body);
    EXPECT_EQ(reply.status, 200) << c.target << c.body;
    EXPECT_EQ(reply.body, c.reply) << c.target << c.body;
    EXPECT_EQ(reply.Header("X-Device-Address"), c.deviceAddress) << c.target << c.body;
    const bool chosen = c.reply.find("\"yes\"") != std::string::npos;
    EXPECT_EQ(TakeAddressLists(), chosen ? std::vector<std::vector<std::string>>{{c.deviceAddress}}
                                         : std::vector<std::vector<std::string>>{})
        << c.target << c.body;
    const Reply next = Get("/get_display_data.cgi");
    EXPECT_EQ(next.Header("X-Device-Address"), std::to_string(c.inUse)) << c.target << c.body;
    EXPECT_EQ(next.Header("X-Device-Status"), "ok") << c.target << c.body;
  }
}

TEST_F(CgiRoutesTest, AWriteOfAPageThatShowsAnotherDeviceSendsNothing) {
  const std::vector<std::uint16_t> display = ReadSim(reg::kDisplay.start, 1);
  const auto write = [this](std::string_view expect) {
    const std::string body = "tmpe=13";
    return Exchange(
        port_, "POST /setdata.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Expect-Address: " + std::string(expect) +
                   "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
  };
  TakeLog();
  EXPECT_EQ(
      write("4").raw,
      "HTTP/1.1 409 Conflict\r\n"
      "Server: WebServerOrvo\r\n"
      "Content-Type: text/html; charset=utf-8\r\n"
      "Content-Length: 109\r\n"
      "X-Device-Address: 1\r\n"
      "Connection: close\r\n"
      "\r\n"
      "The configurator now works on the device at address 1 (chosen on another page); nothing was sent to a "
      "device.");
  EXPECT_EQ(ReadSim(reg::kDisplay.start, 1), display);
  EXPECT_TRUE(TakeLog().empty());
  // The device the page shows: written.
  EXPECT_EQ(write("1").body, R"({"answer":"yes"})");
  EXPECT_EQ(ReadSim(reg::kDisplay.start, 1)[0], 13);
}

TEST_F(CgiRoutesTest, IdenticalReadsWaitingForTheDeviceShareOneRead) {
  CgiHandler cgi(*device_);
  const auto commands = [this] { return MasterTestAccess::CommandsTaken(modbus_); };
  HttpResponse alone;
  const std::uint64_t c0 = commands();
  cgi.Dispatch(alone, "/get_display_data.cgi", "");
  const std::uint64_t oneRead = commands() - c0;

  // A cycle holds the device; four identical reads arrive meanwhile.
  auto held = DeviceTestAccess::HoldDevice(*device_);
  const std::uint64_t c1 = commands();
  std::vector<HttpResponse> replies(4);
  std::vector<std::thread> clients;
  for (HttpResponse& r : replies)
    clients.emplace_back([&cgi, &r] { cgi.Dispatch(r, "/get_display_data.cgi", ""); });
  // One waits for the device, the other three for its reply.
  WaitUntil([&] { return DeviceTestAccess::CyclesWaiting(*device_) == 1; }, "a read waits for the device");
  WaitUntil([&] { return CgiTestAccess::Joined(cgi) == 3; }, "three reads join it");
  held.unlock();
  for (auto& client : clients) client.join();
  EXPECT_EQ(commands() - c1, oneRead);
  for (const HttpResponse& r : replies) {
    EXPECT_EQ(r.text, alone.text);
    EXPECT_EQ(r.deviceStatus, "ok");
    EXPECT_EQ(r.deviceAddress, 1);
  }
  // A read that arrives once the shared one holds the device reads anew.
  HttpResponse later;
  cgi.Dispatch(later, "/get_display_data.cgi", "");
  EXPECT_EQ(commands() - c1, 2 * oneRead);
}

TEST_F(CgiRoutesTest, AWriteGoesBeforeTheReadsWaitingForTheDevice) {
  CgiHandler cgi(*device_);
  auto held = DeviceTestAccess::HoldDevice(*device_);
  HttpResponse read, write;
  std::thread reader([&] { cgi.Dispatch(read, "/get_display_data.cgi", ""); });
  WaitUntil([&] { return DeviceTestAccess::CyclesWaiting(*device_) == 1; }, "the read waits");
  std::thread writer([&] { cgi.Dispatch(write, "/setdata.cgi", "tmpe=14"); });
  WaitUntil([&] { return DeviceTestAccess::WritesWaiting(*device_) == 1; }, "the write waits");
  held.unlock();
  reader.join();
  writer.join();
  EXPECT_EQ(write.text, R"({"answer":"yes"})");
  // The read waited longer, and still found the written value.
  EXPECT_NE(read.text.value_or("").find(R"("tmpe":14)"), std::string::npos) << read.text.value_or("");
}

TEST_F(CgiRoutesTest, ASilentDevicesReadGivesUpItsOtherBlocksForAWaitingSave) {
  RestartDevice({"--address", "1", "--fault", "silent"});
  CgiHandler cgi(*device_);
  TakeLog();
  auto held = DeviceTestAccess::HoldDevice(*device_);
  HttpResponse read, write;
  std::thread reader([&] { cgi.Dispatch(read, "/get_index_data.cgi", ""); });
  WaitUntil([&] { return DeviceTestAccess::CyclesWaiting(*device_) == 1; }, "the read waits");
  held.unlock();
  // The read's first block times out; the save arrives meanwhile.
  WaitUntil([&] { return DeviceTestAccess::CyclesWaiting(*device_) == 0; }, "the read holds the device");
  std::thread writer([&] { cgi.Dispatch(write, "/setdata.cgi", "tmpe=3"); });
  reader.join();
  writer.join();
  EXPECT_EQ(read.deviceStatus, "no-reply SET_10060_10076");  // 17 registers: no firmware read
  EXPECT_EQ(write.deviceStatus, "no-reply SET_10000");
  // One read of four: the others were not asked, and so not logged.
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Error read SET_10060_10078 registers !!!"}));
}

// A read that must first wait out a late reply (the device did not answer
// the same read a moment ago) lets a save that comes meanwhile go first:
// the save waits for no more than its own request.
TEST_F(CgiRoutesTest, AReadWaitingOutALateReplyGivesWayToASave) {
  RestartDevice({"--address", "1", "--fault", "silent"});
  SerialSettings settings = device_->Settings();
  settings.timeoutMs = 300;
  device_->SetSettings(settings);
  CgiHandler cgi(*device_);
  std::mutex mutex;
  std::vector<std::uint8_t> sent;  // the function of each frame on the line
  modbus_.SetTrace([&](bool out, const std::uint8_t* data, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex);
    if (out && length > 1) sent.push_back(data[1]);
  });
  HttpResponse first, read, write;
  cgi.Dispatch(first, "/get_display_data.cgi", "");
  const std::uint64_t c0 = MasterTestAccess::CommandsTaken(modbus_);
  std::thread reader([&] { cgi.Dispatch(read, "/get_display_data.cgi", ""); });
  // Its open and its read taken: the read waits for a quiet line (300 ms).
  WaitUntil([&] { return MasterTestAccess::CommandsTaken(modbus_) == c0 + 2; }, "the read waits");
  std::thread writer([&] { cgi.Dispatch(write, "/setdata.cgi", "tmpe=3"); });
  writer.join();
  reader.join();
  modbus_.SetTrace({});
  EXPECT_EQ(first.deviceStatus, "no-reply SET_10000_10005");
  EXPECT_EQ(write.deviceStatus, "no-reply SET_10000");
  EXPECT_EQ(read.deviceStatus, "no-reply SET_10000_10005");
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{3, 6, 3}));
}

}  // namespace
}  // namespace ktr::test
