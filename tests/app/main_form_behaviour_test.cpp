// What the window does, tested once without a window: MainFormBehaviour
// over a view that records what it is told to draw and answers the dialog
// and the error box as the test says. Real ktr-sim devices on
// pseudo-terminals, the real web server on loopback, real INI files; the
// view's queue is run by the test thread as a window's message loop would.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "fake_sysfs.h"
#include "http_client.h"
#include "ini_file.h"
#include "ktr_device.h"
#include "main_form_behaviour.h"
#include "port_address.h"
#include "port_messages.h"
#include "sim_process.h"
#include "taken_port.h"

namespace {

using namespace std::chrono_literals;
using ktr::app::LineChoice;
using ktr::app::MainFormBehaviour;
using ktr::app::MainFormOptions;
using ktr::test::TakenPort;
using Lines = std::vector<std::string>;

const Lines kStartLog{"KTR web settings v. 1.00 RS485", "Select the correct port of the connected",
                      "device and press 'Search' button"};
constexpr auto kScanWait = 60s;  // 126 time-outs of 100 ms, with room for slow builds

// Records what the behaviour draws; runs the posted tasks on the thread
// that calls RunUntil, in the order they were posted.
class RecordingView final : public ktr::app::MainFormView {
 public:
  void Post(std::function<void()> task) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    posted_.notify_all();
  }
  // Runs tasks until `done()` holds (checked after each one) or `limit`
  // has passed; returns done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kScanWait) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!posted_.wait_until(lock, end, [this] { return !tasks_.empty(); })) return done();
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
    return true;
  }
  // Runs what is queued now and what that queues in turn.
  void RunQueued() {
    RunUntil([this] {
      const std::lock_guard<std::mutex> lock(mutex_);
      return tasks_.empty();
    });
  }

  // Drops the queued tasks (the window has gone); returns their number.
  int DropQueued() {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto n = static_cast<int>(tasks_.size());
    tasks_.clear();
    return n;
  }

  void AppendLogLine(const std::string& line) override { log.push_back(line); }
  void ShowGauge(int minimum, int maximum, int position) override {
    gauge = {minimum, maximum, position};
    ++gaugeMoves;
  }
  void ShowAddresses(const std::vector<std::string>& list) override { addresses = list; }
  void ShowPorts(const std::vector<ktr::PortEntry>& list) override {
    ports.clear();
    for (const ktr::PortEntry& port : list) ports.push_back(port.name);
    portText = ports.empty() ? std::string() : ports.front();
  }
  void ShowPortText(const std::string& port) override { portText = port; }
  std::string PortText() const override { return portText; }
  void ShowLineSettings(const std::string& text) override { label = text; }
  void ShowSearchButton(bool stop, bool enabled) override {
    searchShowsStop = stop;
    searchEnabled = enabled;
  }
  void EnableStart(bool enabled) override { startEnabled = enabled; }
  void EnableSerialSettings(bool enabled) override { serialSettingsEnabled = enabled; }
  std::optional<LineChoice> RunSerialSettings(const LineChoice& choice) override {
    dialogOpenedWith = choice;
    return dialogAnswer ? dialogAnswer(choice) : std::nullopt;
  }
  void ShowError(const std::string& message) override { errors.push_back(message); }
  void OpenBrowser(const std::string& url) override { urls.push_back(url); }
  bool HasNotificationArea() const override { return notificationArea; }
  void ShowTrayIcon(bool shown) override { trayIconShown = shown; }
  void HideWindow() override { windowShown = false; }
  void RestoreWindow() override { windowShown = true; }

  Lines log;
  struct Gauge {
    int minimum = 1, maximum = 256, position = 1;
  } gauge;
  int gaugeMoves = 0;
  Lines addresses, ports;
  std::string portText;
  std::optional<std::string> label;  // the face's own text until told otherwise
  bool searchShowsStop = false, searchEnabled = true, startEnabled = false, serialSettingsEnabled = true;
  std::function<std::optional<LineChoice>(const LineChoice&)> dialogAnswer;
  std::optional<LineChoice> dialogOpenedWith;
  Lines errors, urls;
  bool notificationArea = true, trayIconShown = false, windowShown = true;

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

// A private folder: the INI file, a made-up sysfs tree, a web root.
class Folder {
 public:
  Folder() : sys_("behaviour") {
    std::filesystem::create_directories(web());
    std::ofstream(web() / "index.html") << "<html>KTR test page</html>";
  }
  std::filesystem::path path(const std::string& name) const { return sys_.proc().parent_path() / name; }
  std::filesystem::path web() const { return path("Web"); }
  std::string ini() const { return path("config/KTRWebServer.INI").string(); }
  void WriteIni(const std::string& content) const {
    std::filesystem::create_directories(path("config"));
    std::ofstream(ini(), std::ios::binary) << content;
  }
  std::string ReadIni() const {
    std::ifstream file(ini(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::string IniValue(const std::string& key) const {
    return ktr::app::ReadIniValue(ini(), "PC", key).value_or("(none)");
  }
  void AddPort(const std::string& tty) const { sys_.Port(tty); }
  MainFormOptions Options() const {
    MainFormOptions options;
    options.httpPort = 0;
    options.listenAddress = "127.0.0.1";
    options.iniPath = ini();
    options.portSource = sys_.ttyClass().string();
    options.byIdFolder = sys_.byId().string();
    options.webRoot = web().string();
    return options;
  }

 private:
  ktr::test::FakeSysfs sys_;
};

class BehaviourTest : public ::testing::Test {
 protected:
  // The window with `options` (default: the folder's), started.
  void StartWindow(std::optional<MainFormOptions> options = std::nullopt) {
    window_ = std::make_unique<MainFormBehaviour>(view_, options.value_or(folder_.Options()));
    window_->Start();
    view_.RunQueued();
  }
  // Presses Search on `port` and runs the window until the search has ended.
  void Search(const std::string& port) {
    view_.portText = port;
    ASSERT_TRUE(view_.searchEnabled);
    window_->OnButtonSearchClick();
    ASSERT_TRUE(window_->SearchRunning());
    ASSERT_TRUE(view_.RunUntil([this] { return !window_->SearchRunning(); }));
    view_.RunQueued();
    EXPECT_FALSE(view_.searchShowsStop);
  }
  Lines LogAfterStart() const {
    return Lines(
        view_.log.begin() + static_cast<std::ptrdiff_t>(std::min(view_.log.size(), kStartLog.size())),
        view_.log.end());
  }

  Folder folder_;
  RecordingView view_;
  std::unique_ptr<MainFormBehaviour> window_;
};

TEST_F(BehaviourTest, StartUp) {
  folder_.WriteIni("[PC]\nBaud=9600\nParity=0\nStopBits=2\nSize=7\n");
  folder_.AddPort("ttyUSB10");
  folder_.AddPort("ttyUSB2");
  StartWindow();

  EXPECT_EQ(view_.log, kStartLog);
  // The label keeps the face's own text; the file's values are in force.
  EXPECT_EQ(view_.label, std::nullopt);
  const ktr::SerialSettings s = window_->Device().Settings();
  EXPECT_EQ(s.baudRate, 9600);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.stopBits, 2);
  EXPECT_EQ(s.dataBits, 7);
  EXPECT_EQ(s.timeoutMs, 1000);
  EXPECT_EQ(s.transport, 0);
  EXPECT_EQ(view_.ports, (Lines{"/dev/ttyUSB2", "/dev/ttyUSB10"}));
  EXPECT_EQ(view_.portText, "/dev/ttyUSB2");
  EXPECT_FALSE(view_.startEnabled);
  EXPECT_TRUE(view_.trayIconShown);  // visible from start, with the window
  EXPECT_TRUE(view_.errors.empty());

  // The web side answers at once: files from the web root, and device
  // endpoints that find no port chosen yet.
  ASSERT_NE(window_->HttpPort(), 0);
  EXPECT_EQ(window_->PagesUrl(), "http://localhost:" + std::to_string(window_->HttpPort()));
  EXPECT_EQ(ktr::test::Get(window_->HttpPort(), "/index.html").body, "<html>KTR test page</html>");
  const ktr::test::Reply time = ktr::test::Get(window_->HttpPort(), "/get_time_data.cgi");
  EXPECT_EQ(time.status, 200);
  EXPECT_EQ(time.body, "");
  ASSERT_TRUE(view_.RunUntil([this] { return LogAfterStart().size() >= 2; }));
  EXPECT_EQ(LogAfterStart(),
            (Lines{"Error open port !!!",
                   "open: no port name given: the adapter is unplugged or the port has another "
                   "name (ktr-cli ports lists them)"}));
}

// The port on which the last search found a device comes back at the next
// start: the list's item when listed, else typed in.
TEST_F(BehaviourTest, LastPortFoundIsPreselected) {
  folder_.AddPort("ttyUSB0");
  folder_.AddPort("ttyUSB1");
  for (const std::string port : {"/dev/ttyUSB1", "/tmp/pty-link"}) {
    SCOPED_TRACE(port);
    folder_.WriteIni("[PC]\nPort=" + port + "\n");
    RecordingView view;
    MainFormBehaviour window(view, folder_.Options());
    window.Start();
    EXPECT_EQ(view.portText, port);
    EXPECT_EQ(view.ports, (Lines{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  }
}

// The dialog's cycle: it opens with the record's settings and the label
// follows them; OK stores the choice in the record and the file; Cancel
// changes neither.
TEST_F(BehaviourTest, SerialSettingsDialog) {
  struct Case {
    const char* name;
    std::string ini;
    std::optional<LineChoice> answer;  // none: cancelled
    int openedBaud;                    // the list position it opens with
    std::string labelAfter;
    int baud, parity, stop, data;
    bool rs485;
    std::vector<std::pair<std::string, std::string>> written;  // none: the file is unchanged
  };
  const std::vector<Case> cases{
      {"Odd, 2, 7, RS-485 confirmed",
       "",
       LineChoice{.baud = 5, .parity = 1, .stop = 2, .data = 2, .rs485 = true},
       5,
       "19200,Odd,7,2",
       19200,
       1,
       2,
       7,
       true,
       {{"Baud", "19200"}, {"Parity", "1"}, {"StopBits", "2"}, {"Size", "7"}, {"RS485", "1"}}},
      {"cancel keeps record and file, refreshes the label",
       "[PC]\nBaud=9600\nParity=0\n",
       std::nullopt,
       3,
       "9600,None,8,1",
       9600,
       0,
       0,
       8,
       false,
       {}},
      {"an unlisted baud rate opens as 19200 and is stored so",
       "[PC]\nBaud=12345\n",
       LineChoice{},
       5,
       "19200,Even,8,1",
       19200,
       2,
       0,
       8,
       false,
       {{"Baud", "19200"}, {"Parity", "2"}, {"StopBits", "0"}, {"Size", "8"}, {"RS485", "0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(folder_.ini());
    if (!c.ini.empty()) folder_.WriteIni(c.ini);
    RecordingView view;
    MainFormBehaviour window(view, folder_.Options());
    window.Start();
    view.dialogAnswer = [&](const LineChoice&) { return c.answer; };
    window.OnButtonSerialSettingsClick();
    ASSERT_TRUE(view.dialogOpenedWith.has_value());
    EXPECT_EQ(view.dialogOpenedWith->baud, c.openedBaud);
    EXPECT_EQ(view.label, c.labelAfter);
    const ktr::SerialSettings s = window.Device().Settings();
    EXPECT_EQ(s.baudRate, c.baud);
    EXPECT_EQ(s.parity, c.parity);
    EXPECT_EQ(s.stopBits, c.stop);
    EXPECT_EQ(s.dataBits, c.data);
    EXPECT_EQ(s.rs485, c.rs485);
    if (c.written.empty()) {
      EXPECT_EQ(folder_.ReadIni(), c.ini);
    }
    for (const auto& [key, value] : c.written) EXPECT_EQ(folder_.IniValue(key), value) << key;
    EXPECT_TRUE(view.errors.empty());
    // The next start reads the file back, and the dialog shows it.
    RecordingView next;
    MainFormBehaviour again(next, folder_.Options());
    again.Start();
    again.OnButtonSerialSettingsClick();
    EXPECT_EQ(next.dialogOpenedWith->rs485, c.rs485);
    EXPECT_EQ(next.label, c.labelAfter);
  }
}

// A configuration file that cannot be written: the error box names it, and
// the record and the label already hold the new settings.
TEST_F(BehaviourTest, IniWriteFailureIsShown) {
  std::ofstream(folder_.path("blocker")) << "x";
  MainFormOptions options = folder_.Options();
  options.iniPath = folder_.path("blocker/KTRWebServer.INI").string();  // a folder that is a file
  StartWindow(options);
  view_.dialogAnswer = [](LineChoice choice) {
    choice.parity = 0;
    return choice;
  };
  window_->OnButtonSerialSettingsClick();
  EXPECT_EQ(view_.errors, Lines{"Unable to write to " + options.iniPath});
  EXPECT_EQ(window_->Device().Settings().parity, 0);
  EXPECT_EQ(view_.label, "19200,None,8,1");
}

TEST_F(BehaviourTest, SearchFindsTheDeviceAndStartOpensThePages) {
  ktr::test::SimProcess sim({"--address", "5"});
  StartWindow();
  Search(sim.link());

  EXPECT_EQ(LogAfterStart(), (Lines{"Search for connected device...", "Device found", "KTR Clock fw 0.35.4",
                                    "Press 'Start' button for setting device"}));
  EXPECT_EQ(view_.addresses, Lines{"5"});
  EXPECT_EQ(view_.gauge.minimum, 1);
  EXPECT_EQ(view_.gauge.maximum, 126);
  EXPECT_EQ(view_.gauge.position, 4);  // the last address that did not answer
  EXPECT_TRUE(view_.startEnabled);
  EXPECT_TRUE(view_.serialSettingsEnabled);
  const ktr::SerialSettings s = window_->Device().Settings();
  EXPECT_EQ(s.slaveAddress, 5);
  EXPECT_EQ(s.portName, sim.link());
  EXPECT_EQ(s.timeoutMs, 1000);
  EXPECT_EQ(folder_.IniValue("Port"), sim.link());  // preselected at the next start

  window_->OnButtonStartClick();
  EXPECT_FALSE(view_.startEnabled);
  EXPECT_EQ(view_.urls, Lines{"http://localhost:" + std::to_string(window_->HttpPort())});
  view_.RunQueued();
  EXPECT_EQ(view_.log.back(), "Start http://localhost ....");

  // A later search that finds nothing leaves Start as it is, and the port
  // found before stays remembered.
  view_.startEnabled = true;
  Search(ktr::test::kMissingPort);
  EXPECT_TRUE(view_.startEnabled);
  EXPECT_TRUE(view_.addresses.empty());
  EXPECT_EQ(folder_.IniValue("Port"), sim.link());
}

// A gateway address typed into the port field: the search runs over TCP
// and the address is remembered like a port; a malformed one says so once.
TEST_F(BehaviourTest, SearchThroughAGatewayTypedInThePortField) {
  ktr::test::SimProcess gateway({"--tcp", "127.0.0.1:0", "--address", "2"});
  StartWindow();
  Search(gateway.link());
  EXPECT_EQ(LogAfterStart(), (Lines{"Search for connected device...", "Device found", "KTR Clock fw 0.35.4",
                                    "Press 'Start' button for setting device"}));
  EXPECT_EQ(view_.addresses, Lines{"2"});
  EXPECT_EQ(window_->Device().Settings().transport, ktr::kTransportModbusTcp);
  EXPECT_EQ(folder_.IniValue("Port"), gateway.link());

  view_.log.clear();
  Search("tcp://host:0");
  EXPECT_EQ(view_.log, (Lines{"Search for connected device...", "Error open port !!!",
                              "bad port address 'tcp://host:0': port 0 is out of range (1-65535)",
                              "Please check the device connection"}));
}

TEST_F(BehaviourTest, SearchWithAPortThatCannotOpen) {
  StartWindow();
  Search(ktr::test::kMissingPort);
  Lines expected{"Search for connected device..."};
  for (int i = 0; i < 126; ++i)
    expected.insert(expected.end(), ktr::test::kMissingPortLog.begin(), ktr::test::kMissingPortLog.end());
  expected.push_back("Please check the device connection");
  EXPECT_EQ(LogAfterStart(), expected);
  EXPECT_LT(view_.gauge.position, view_.gauge.minimum);  // never moved
  EXPECT_FALSE(view_.startEnabled);
  EXPECT_TRUE(view_.addresses.empty());
  EXPECT_EQ(window_->Device().Settings().slaveAddress, 126);
}

// A silent bus: the gauge moves while the window goes on, Search is Stop
// and the line settings wait; the scan ends at 126.
TEST_F(BehaviourTest, SearchOnASilentBus) {
  ktr::test::SimProcess sim({"--address", "200"});  // beyond the scanned range
  StartWindow();
  view_.portText = sim.link();
  window_->OnButtonSearchClick();
  ASSERT_TRUE(view_.RunUntil([this] { return view_.gauge.position >= 3; }));
  EXPECT_TRUE(window_->SearchRunning());
  EXPECT_TRUE(view_.searchShowsStop);
  EXPECT_TRUE(view_.searchEnabled);
  EXPECT_FALSE(view_.serialSettingsEnabled);
  ASSERT_TRUE(view_.RunUntil([this] { return !window_->SearchRunning(); }));
  EXPECT_FALSE(view_.searchShowsStop);
  EXPECT_TRUE(view_.serialSettingsEnabled);
  EXPECT_EQ(LogAfterStart(), (Lines{"Search for connected device...", "Please check the device connection"}));
  EXPECT_EQ(view_.gauge.position, 126);
  EXPECT_EQ(window_->Device().Settings().slaveAddress, 126);
  EXPECT_FALSE(view_.startEnabled);
}

TEST_F(BehaviourTest, StopEndsTheScanAtOnce) {
  ktr::test::SimProcess sim({"--address", "200"});  // nobody answers
  StartWindow();
  view_.portText = sim.link();
  window_->OnButtonSearchClick();
  ASSERT_TRUE(view_.RunUntil([this] { return view_.gauge.position >= 3; }));
  window_->OnButtonSearchClick();     // Stop
  EXPECT_FALSE(view_.searchEnabled);  // until the scan has ended
  ASSERT_TRUE(view_.RunUntil([this] { return !window_->SearchRunning(); }));
  EXPECT_LT(view_.gauge.position, 126);  // it did not run to the end
  EXPECT_EQ(LogAfterStart(), (Lines{"Search for connected device...", "Search stopped"}));
  EXPECT_TRUE(view_.searchEnabled);
  EXPECT_TRUE(view_.serialSettingsEnabled);
  EXPECT_FALSE(view_.startEnabled);
  EXPECT_EQ(folder_.IniValue("Port"), "(none)");
  // A new search runs in full after a stop.
  Search(ktr::test::kMissingPort);
  EXPECT_EQ(view_.log.back(), "Please check the device connection");
}

TEST_F(BehaviourTest, AddressListFollowsTheDevicesAnswers) {
  ktr::test::SimProcess sim({"--address", "5"});
  StartWindow();
  Search(sim.link());
  EXPECT_EQ(view_.addresses, Lines{"5"});

  // Factory defaults: the device will answer on 1, the list says so, the
  // requests still go to the device that was found.
  EXPECT_EQ(ktr::test::Get(window_->HttpPort(), "/set_default.cgi").body, "{\"answer\":\"yes\"}");
  ASSERT_TRUE(view_.RunUntil([this] { return view_.addresses == Lines{"1"}; }));
  EXPECT_EQ(window_->Device().Settings().slaveAddress, 5);
  // A new device address written from the settings page.
  EXPECT_EQ(ktr::test::Request(window_->HttpPort(), "POST", "/setdata.cgi",
                               "application/x-www-form-urlencoded", "diad=7")
                .body,
            "{\"answer\":\"yes\"}");
  ASSERT_TRUE(view_.RunUntil([this] { return view_.addresses == Lines{"7"}; }));
  EXPECT_EQ(window_->Device().Settings().slaveAddress, 5);
}

// Exit while a scan runs: the window and the icon go and the server stops at
// once; the window's end stops the scan at its next address.
TEST_F(BehaviourTest, CloseDuringAScan) {
  ktr::test::SimProcess sim({"--address", "200"});
  StartWindow();
  const std::uint16_t port = window_->HttpPort();
  view_.portText = sim.link();
  window_->OnButtonSearchClick();
  ASSERT_TRUE(view_.RunUntil([this] { return view_.gauge.position >= 2; }));
  window_->OnClose();
  EXPECT_FALSE(view_.windowShown);
  EXPECT_FALSE(view_.trayIconShown);
  EXPECT_THROW(ktr::test::ClientSocket{port}, std::runtime_error);  // the server has stopped
  window_.reset();
  // The scan ended at its next address, far from its last one: the gauge
  // moves shown and those still queued (dropped with the window, as a
  // window's queue is) are all there were.
  EXPECT_LT(view_.gaugeMoves + view_.DropQueued(), 126);
}

// The configured port is taken: the error box and its line, then the pages
// on the first free port from the fallback port up, on the same address.
TEST_F(BehaviourTest, TakenPortFallsBackToTheNextFreePort) {
  const TakenPort taken;
  const TakenPort fallbackTaken;
  folder_.AddPort("ttyUSB0");
  MainFormOptions options = folder_.Options();
  options.httpPort = taken.port();
  options.fallbackPort = fallbackTaken.port();
  StartWindow(options);

  const std::string reason =
      "Cannot listen on 127.0.0.1 port " + std::to_string(taken.port()) + ": Address already in use";
  EXPECT_EQ(view_.errors, Lines{reason});
  const std::uint16_t port = window_->HttpPort();
  EXPECT_GT(port, fallbackTaken.port());
  const std::string url = "http://localhost:" + std::to_string(port);
  EXPECT_EQ(view_.log, (Lines{kStartLog[0], reason,
                              "Pages on " + url + " (port " + std::to_string(taken.port()) +
                                  " is taken: Address already in use)",
                              kStartLog[1], kStartLog[2]}));
  EXPECT_EQ(ktr::test::Get(port, "/index.html").body, "<html>KTR test page</html>");
  EXPECT_EQ(view_.ports, Lines{"/dev/ttyUSB0"});
  window_->OnButtonStartClick();
  EXPECT_EQ(view_.urls, Lines{url});
  Search(ktr::test::kMissingPort);  // the worker is there
  EXPECT_EQ(view_.log.back(), "Please check the device connection");
}

// Minimised: to the notification area where there is one; else it only
// minimises, never hidden with no way back. Open restores it.
TEST_F(BehaviourTest, MinimiseAndRestore) {
  for (const bool area : {true, false}) {
    SCOPED_TRACE(area ? "notification area" : "none");
    RecordingView view;
    view.notificationArea = area;
    MainFormBehaviour window(view, folder_.Options());
    window.Start();
    EXPECT_EQ(view.trayIconShown, area);
    window.OnApplicationEventsMinimize();
    EXPECT_EQ(view.windowShown, !area);
    EXPECT_EQ(view.trayIconShown, area);
    window.OnTrayIconDblClick();
    EXPECT_TRUE(view.windowShown);
    EXPECT_FALSE(view.trayIconShown);
  }
}

TEST_F(BehaviourTest, LogTakesEntriesFromAnyThread) {
  StartWindow();
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) window_->Log("t" + std::to_string(t) + " " + std::to_string(i));
    });
  }
  for (auto& thread : threads) thread.join();
  window_->Log("two\r\nlines");
  view_.RunQueued();
  const Lines lines = LogAfterStart();
  ASSERT_EQ(lines.size(), std::size_t{kThreads * kLines + 2});
  for (int t = 0; t < kThreads; ++t) {
    int next = 0;
    for (const std::string& line : lines) {
      const std::string prefix = "t" + std::to_string(t) + " ";
      if (line.rfind(prefix, 0) == 0) {
        EXPECT_EQ(line, prefix + std::to_string(next++));
      }
    }
    EXPECT_EQ(next, kLines);
  }
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"two", "lines"}));
}

}  // namespace
