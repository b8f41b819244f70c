// "/find_all.cgi" over HTTP against two simulated devices on one bus: the
// state before, during and after a search, one search at a time, the pages'
// requests served while it runs, and the request guard.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "ktr_register_map.h"
#include "web_fixture.h"

namespace ktr::test {
namespace {

class FindAllTest : public WebDeviceTest {
 protected:
  void SetUp() override {
    WebDeviceTest::SetUp();
    RestartDevice({"--address", "5", "--address", "3"});  // the pages talk to 3
  }

  // Asks for the state until the search is done (a search of a pty bus
  // takes about 4 s; the bound is for a stuck search only).
  std::string WaitDone() {
    for (int i = 0; i < 600; ++i) {
      const std::string state = Get("/find_all.cgi").body;
      if (state.rfind(R"({"state":"done")", 0) == 0) return state;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "the search did not end";
    return {};
  }
};

TEST_F(FindAllTest, SearchesInTheBackgroundWhileThePagesGoOn) {
  EXPECT_EQ(Get("/find_all.cgi").body,
            R"({"state":"idle","phase":"","position":0,"total":126,"elapsed_ms":0,)"
            R"("device":{"address":3,"firmware":"","version":"0.0.0"},"candidates":[],"found":[]})");

  EXPECT_EQ(Post("/find_all.cgi", "start=1").body, R"({"answer":"yes"})");
  EXPECT_EQ(Post("/find_all.cgi", "start=1").body,
            R"({"answer":"no","reason":"A search of the bus is already running."})");
  // A page's request takes its turn between two probes, not after the search.
  const Reply display = Get("/get_display_data.cgi");
  EXPECT_EQ(display.Header("X-Device-Status"), "ok");
  EXPECT_EQ(display.body, R"({"tmpe":10,"dtpe":3,"cdpe":0,"s1pe":3,"s2pe":3,"stpe":0})");
  const Reply running = Get("/find_all.cgi");
  EXPECT_EQ(running.body.rfind(R"({"state":"running","phase":"probe","position":)", 0), 0U) << running.body;
  EXPECT_EQ(running.HeaderCount("X-Device-Status"), 0U);

  const std::string done = WaitDone();
  const std::string fw = std::string(defaults::kFirmwareTextNew);
  EXPECT_NE(done.find(R"("phase":"","position":126,"total":126,"elapsed_ms":)"), std::string::npos) << done;
  EXPECT_NE(done.find(R"("candidates":[3,5],"found":[{"address":3,"firmware":")" + fw +
                      R"(","version":"0.35.4","note":""},{"address":5,"firmware":")" + fw +
                      R"(","version":"0.35.4","note":""}]})"),
            std::string::npos)
      << done;
  // The pages' device is still 3; a new search may start.
  EXPECT_EQ(device_->Settings().slaveAddress, 3);
  EXPECT_EQ(Post("/find_all.cgi", "start=1").body, R"({"answer":"yes"})");
  // The search still running when the server and the device go away is
  // stopped with them (TearDown).
}

TEST_F(FindAllTest, CrossSiteStartIsRefusedAndOtherPathsStay404) {
  const std::string request =
      "POST /find_all.cgi HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
      "\r\nOrigin: http://evil.example\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 7\r\n\r\nstart=1";
  EXPECT_EQ(Exchange(port_, request).statusLine, "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(Get("/find_all.cgi").body.rfind(R"({"state":"idle")", 0), 0U);
  for (const char* path : {"/find_all.cgi/", "/Find_all.cgi", "/find_all.cgix", "/find_all"}) {
    EXPECT_EQ(Get(path).status, 404) << path;
  }
}

}  // namespace
}  // namespace ktr::test
