// The configurator against its peers and against the limits of the line, in
// one run: Modbus request overhead, the worker hand-off, idle wake-ups,
// endpoint latency on a pty (with and without a simulated 19200 baud wire),
// the device search and start-up. Prints Markdown table rows
// "| metric | ours | peer | ratio | goal |"; scripts/bench adds the static
// file figures and writes docs/benchmarks.md.
//
//   ktr_bench [--quick]      (--quick: fewer requests, no search at 126)
//   ktr_bench --line         (only the rows of the real-line section)
//   ktr_bench --tcp          (only the rows of the gateway section, tcp_bench.cpp)
//   ktr_bench --fleet        (only scan --all, backup and restore)
#include <dirent.h>
#include <modbus.h>
#include <signal.h>
#include <tuple>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "device_test_access.h"
#include "fleet_bench.h"
#include "http_client.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "rtu_frame.h"
#include "sim_process.h"
#include "spawned_process.h"
#include "web_service.h"

namespace {

using namespace ktr::bench;
using std::chrono::milliseconds;

struct Block {
  std::uint16_t start;
  std::uint16_t count;
};

// A libmodbus client on the simulator's pty (parity 'N': a pty reports none).
class Libmodbus {
 public:
  explicit Libmodbus(const std::string& port, int slave = 1)
      : ctx_(modbus_new_rtu(port.c_str(), 19200, 'N', 8, 1)) {
    if (ctx_ == nullptr || modbus_connect(ctx_) != 0) {
      std::fprintf(stderr, "libmodbus cannot open %s\n", port.c_str());
      std::exit(1);
    }
    modbus_set_slave(ctx_, slave);
    modbus_set_response_timeout(ctx_, 3, 0);
  }
  ~Libmodbus() {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
  bool Read(Block b) {
    std::uint16_t regs[128];
    return modbus_read_registers(ctx_, b.start, b.count, regs) == b.count;
  }

 private:
  modbus_t* ctx_;
};

ktr::SerialSettings SettingsFor(const std::string& port) {
  ktr::SerialSettings s;
  s.portName = port;
  s.slaveAddress = 1;
  return s;
}

// The quiet time before a request that follows a reply at once (8E1).
double QuietUs(unsigned baud) {
  return static_cast<double>(rtu::QuietTimeNs(static_cast<std::int32_t>(baud), 8, 2, 0)) / 1000.0;
}

// --- Modbus request overhead ------------------------------------------------

void ModbusOverhead(const std::string& port, int n) {
  for (Block b : {Block{8000, 1}, Block{14000, 76}}) {
    ktr::TModbus master;
    std::ignore = master.OpenPort(SettingsFor(port));  // a failed open shows as failed reads
    std::uint16_t regs[128];
    Stats ours, peer;
    {
      Libmodbus lm(port);
      // Alternate rounds so that drift of the machine hits both alike.
      std::vector<Stats> a, p;
      for (int round = 0; round < 4; ++round) {
        a.push_back(Measure(n / 4, [&] { return master.ReadHoldingRegisters(b.start, b.count, regs) == 0; }));
        p.push_back(Measure(n / 4, [&] { return lm.Read(b); }));
      }
      auto mid = [](std::vector<Stats> v, double Stats::*field) {
        std::sort(v.begin(), v.end(),
                  [field](const Stats& x, const Stats& y) { return x.*field < y.*field; });
        return v[v.size() / 2].*field;
      };
      ours = {mid(a, &Stats::median), mid(a, &Stats::p99), 0};
      peer = {mid(p, &Stats::median), mid(p, &Stats::p99), 0};
    }
    master.ClosePort();
    // Back to back, each of our requests first waits the quiet time after
    // the reply (19200 8E1), as on a line; libmodbus waits none, so it is
    // given the same wait.
    const double quietUs = QuietUs(19200);
    const std::string what = std::to_string(b.count) + "-register read on a pty, back to back";
    Row(what + ", median vs libmodbus + quiet time", ours.median, peer.median + quietUs, "us", "<= 1.2x");
    Row(what + ", p99 vs libmodbus + quiet time", ours.p99, peer.p99 + quietUs, "us", "<= 1.2x");
  }
}

// --- hand-off ---------------------------------------------------------------

// The classic hand-off the worker replaces: both sides look at the command
// word every millisecond.
class PollingWorker {
 public:
  PollingWorker() : thread_([this] { Run(); }) {}
  ~PollingWorker() {
    stop_ = true;
    thread_.join();
  }
  void Post() {
    word_.store(1);
    while (word_.load() != 0) std::this_thread::sleep_for(milliseconds(1));
  }

 private:
  void Run() {
    while (!stop_) {
      if (word_.load() != 0) word_.store(0);
      std::this_thread::sleep_for(milliseconds(1));
    }
  }
  std::atomic<int> word_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void HandOff(int n) {
  ktr::TModbus master;
  // A value that is no command: the worker takes it and sets the word back
  // to idle at once, so this is the hand-off alone.
  const Stats ours = Measure(n, [&] {
    std::ignore = master.PostCommand(7);  // no command: the last result comes back
    return true;
  });
  PollingWorker polling;
  const Stats peer = Measure(200, [&] {
    polling.Post();
    return true;
  });
  Row("worker hand-off round trip, median", ours.median, peer.median, "us", "<= 50 us");
}

// --- idle wake-ups -----------------------------------------------------------

struct ThreadSwitches {
  std::string name;
  long switches;
};

std::vector<ThreadSwitches> Switches(pid_t pid) {
  std::vector<ThreadSwitches> out;
  const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(taskDir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = taskDir + "/" + e->d_name;
    std::string name;
    std::getline(std::ifstream(base + "/comm"), name);
    std::ifstream status(base + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::atol(line.substr(line.find(':') + 1).c_str());
      }
    }
    out.push_back({name + "/" + e->d_name, total});
  }
  closedir(d);
  return out;
}

long StatusKb(pid_t pid, const char* key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::atol(line.substr(line.find(':') + 1).c_str());
  }
  return -1;
}

std::uint16_t FreePort() {
  // Bind port 0 through a short-lived server and read the port back.
  ktr::TModbus modbus;
  ktr::TKtrDevice device(modbus, nullptr, nullptr);
  ktr::WebService web(device, "/nonexistent");
  std::ignore = web.Start("127.0.0.1", 0);  // port() is then 0
  const std::uint16_t port = web.port();
  web.Stop();
  return port;
}

void ServeProcess(const std::string& simPort, int idleSeconds) {
  const std::uint16_t port = FreePort();
  const auto t0 = Clock::now();
  ktr::test::SpawnedProcess serve(KTR_CLI_PATH,
                                  {"serve", "--port", simPort, "--address", "1", "--listen",
                                   "127.0.0.1:" + std::to_string(port), "--web", "/tmp"},
                                  "listening on");
  // Until the first answer.
  while (ktr::test::Get(port, "/logout.cgi").status != 200) std::this_thread::sleep_for(milliseconds(1));
  const double startupMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  Row("ktr-cli serve: start to first HTTP answer", startupMs, 0, "ms", "<= 300 ms");

  for (int i = 0; i < 20; ++i) ktr::test::Get(port, "/get_display_data.cgi");
  const auto before = Switches(serve.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const auto after = Switches(serve.pid());
  long all = 0, worker = 0;
  for (const auto& a : after) {
    for (const auto& b : before) {
      if (a.name != b.name) continue;
      all += a.switches - b.switches;
      if (a.name.rfind("ktr-modbus/", 0) == 0) worker += a.switches - b.switches;
    }
  }
  Row("idle ktr-cli serve: worker wake-ups/s", static_cast<double>(worker) / idleSeconds, 0, "/s", "0");
  Row("idle ktr-cli serve: all threads wake-ups/s", static_cast<double>(all) / idleSeconds, 0, "/s", "-");
  Row("ktr-cli serve: peak RSS", static_cast<double>(StatusKb(serve.pid(), "VmHWM:")) / 1024.0, 0, "MB",
      "<= 15 MB");
}

#ifdef KTR_WINDOW_PATH
// The window on Qt's offscreen platform: process start to the first answer
// of its HTTP server (port 80, active from start-up), and its peak RSS. Its
// configuration goes to a temporary folder. Skipped when port 80 is taken or
// cannot be bound (not root).
void WindowProcess() {
  const auto answer = [] {
    try {
      return ktr::test::Get(80, "/logout.cgi").status;
    } catch (const std::exception&) {  // nothing listens yet
      return 0;
    }
  };
  if (answer() != 0) {
    std::printf("| window: start to first HTTP answer | skipped: port 80 is in use | | | |\n");
    return;
  }
  char folder[] = "/tmp/ktr-bench-window-XXXXXX";
  if (mkdtemp(folder) == nullptr) return;
  const auto t0 = Clock::now();
  ktr::test::SpawnedProcess window(
      "/bin/sh",
      {"-c", std::string("echo started; exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=") + folder +
                 " '" + KTR_WINDOW_PATH + "'"},
      "started");
  bool answered = false;
  while (!answered && Clock::now() - t0 < std::chrono::seconds(10)) {
    answered = answer() == 200;
    if (!answered) std::this_thread::sleep_for(milliseconds(1));
  }
  const double startupMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  if (answered) {
    Row("window (offscreen): start to first HTTP answer", startupMs, 0, "ms", "<= 300 ms");
    // Settled: the port list is filled and the log written.
    std::this_thread::sleep_for(milliseconds(500));
    Row("window (offscreen): peak RSS", static_cast<double>(StatusKb(window.pid(), "VmHWM:")) / 1024.0, 0,
        "MB", "-");
  } else {
    std::printf("| window: start to first HTTP answer | no answer on port 80 within 10 s | | | |\n");
  }
  window.Stop();
  std::filesystem::remove_all(folder);
}
#endif

// --- endpoints ---------------------------------------------------------------

struct Endpoint {
  const char* path;
  std::vector<Block> blocks;
  int pauses;  // 50 ms each
};

// Wire time of one read at `baud` with 8E1 framing, plus the turnaround.
double WireUs(Block b, unsigned baud, double turnaroundUs) {
  const double chars = 8 + 5 + 2.0 * b.count;
  return chars * 11 * 1e6 / baud + turnaroundUs;
}

void Endpoints(const std::string& simPort, unsigned wireBaud, int n) {
  ktr::TModbus modbus;
  ktr::TKtrDevice device(modbus, nullptr, nullptr);
  device.SetSettings(SettingsFor(simPort));
  ktr::test::DeviceTestAccess::SetFirmwareVersion(device, 0x2304);
  const auto root = std::filesystem::temp_directory_path() / ("ktr-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  ktr::WebService web(device, root.string());
  std::ignore = web.Start("127.0.0.1", 0);  // a server that did not start fails every request
  const std::uint16_t port = web.port();

  // The device list length the settings read will fetch (high byte of 10100).
  std::uint16_t listWord = 0;
  {
    ktr::TModbus probe;
    // A read that fails leaves 0: no device list.
    std::ignore = probe.OpenPort(SettingsFor(simPort));
    std::ignore = probe.ReadHoldingRegisters(10100, 1, &listWord);
    probe.ClosePort();
  }
  const std::uint16_t listCount = static_cast<std::uint16_t>(std::min(listWord >> 8, 128));
  std::vector<Block> setBlocks{{10060, 19}, {10300, 4}, {10080, 1}, {10084, 1}, {10100, 1}};
  if (listCount > 0) setBlocks.push_back({10101, listCount});
  const std::vector<Endpoint> endpoints{
      {"/get_display_data.cgi", {{10000, 6}}, 0},
      {"/get_sched_data.cgi&mon", {{14100, 76}}, 0},
      {"/get_set_data.cgi", setBlocks, static_cast<int>(setBlocks.size()) - 1},
      {"/get_index_data.cgi", {{10060, 19}, {0, 20}, {160, 10}, {10020, 8}}, 3},
  };
  const std::string tag = wireBaud == 0 ? " (pty)" : " (19200 baud wire)";
  for (const Endpoint& e : endpoints) {
    const int count = e.pauses > 0 ? std::max(5, n / 10) : n;
    const Stats ours = Measure(count, [&] {
      const auto r = ktr::test::Get(port, e.path);
      return r.status == 200 && !r.body.empty();
    });
    // The requests come back to back, so the first read of each cycle waits
    // the quiet time after the previous cycle's last reply (19200 8E1), as
    // on a line; the pauses between the reads of one cycle are longer.
    double floorUs = 50000.0 * e.pauses + QuietUs(19200);
    std::string goal;
    // libmodbus reading the same blocks, port opened and closed as the
    // endpoint does.
    const Stats lm = Measure(count, [&] {
      Libmodbus client(simPort);
      for (Block b : e.blocks) {
        if (!client.Read(b)) return false;
      }
      return true;
    });
    if (wireBaud == 0) {
      // The floor: the pauses and the quiet time plus libmodbus.
      floorUs += lm.median;
      goal = "<= floor + 2 ms";
    } else {
      // The limit: the pauses and the quiet time plus the wire time.
      // libmodbus on the same simulated wire (without the pauses) shows what
      // the simulation itself adds to the wire time.
      double wireUs = 0;
      for (Block b : e.blocks) wireUs += WireUs(b, wireBaud, 2000);
      floorUs += wireUs;
      Row(std::string("libmodbus, blocks of ") + e.path + tag + ", median vs wire time", lm.median / 1000,
          wireUs / 1000, "ms", "-", lm.failures);
      goal = "<= 1.05x limit";
    }
    Row(std::string("GET ") + e.path + tag + ", median vs floor", ours.median / 1000, floorUs / 1000, "ms",
        goal, ours.failures);
    Row(std::string("GET ") + e.path + tag + ", p99 vs floor", ours.p99 / 1000, floorUs / 1000, "ms", goal);
  }
  web.Stop();
  std::filesystem::remove_all(root);
}

// --- search -------------------------------------------------------------------

void Search(int address, unsigned baud = 19200, bool echo = false) {
  std::vector<std::string> args{"--address", std::to_string(address), "--wire", std::to_string(baud)};
  if (echo) args.insert(args.end(), {"--fault", "echo"});
  ktr::test::SimProcess sim(args);
  ktr::TModbus modbus;
  ktr::TKtrDevice device(modbus, nullptr, nullptr);
  ktr::SerialSettings settings = SettingsFor(sim.link());
  settings.baudRate = static_cast<std::int32_t>(baud);
  device.SetSettings(settings);
  const auto t0 = Clock::now();
  const bool found = device.SearchDevice(sim.link(), {});
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  // The limit: per silent address the 100 ms time-out after the request's
  // and the expected reply's wire time; then the probe, the firmware text
  // (its length from register 8000) and the version on the wire, the last
  // three each after the quiet time that follows a reply.
  std::uint16_t textCount = 0;
  {
    ktr::TModbus probe;
    ktr::SerialSettings s = settings;
    s.slaveAddress = static_cast<std::uint8_t>(address);
    // A read that fails leaves 0: an empty text.
    std::ignore = probe.OpenPort(s);
    std::ignore = probe.ReadHoldingRegisters(8000, 1, &textCount);
    probe.ClosePort();
  }
  const double silentUs = 100000.0 + WireUs({8000, 1}, baud, 0);
  double limitUs = (address - 1) * silentUs + WireUs({8000, 1}, baud, 2000) * 2 +
                   WireUs({8001, textCount}, baud, 2000) + WireUs({5000, 3}, baud, 2000) + 3 * QuietUs(baud);
  Row("search, device at address " + std::to_string(address) + " (" + std::to_string(baud) + " baud wire" +
          (echo ? ", echo" : "") + ")",
      ms, limitUs / 1000, "ms", "<= 1.05x", found ? 0 : 1);
}

// --- a real line: baud rates, echo, validation, quiet time ----------------------

// One-register reads and /get_index_data.cgi at address 5 on the simulated
// wire, with and without the line's echo, against the wire limit.
void LineRates(unsigned baud, bool echo, int n) {
  std::vector<std::string> args{"--address", "5", "--wire", std::to_string(baud)};
  if (echo) args.insert(args.end(), {"--fault", "echo"});
  ktr::test::SimProcess sim(args);
  ktr::SerialSettings settings = SettingsFor(sim.link());
  settings.baudRate = static_cast<std::int32_t>(baud);
  settings.slaveAddress = 5;
  const std::string tag = " (" + std::to_string(baud) + " baud wire" + (echo ? ", echo" : "") + ")";
  {
    ktr::TModbus master;
    std::ignore = master.OpenPort(settings);  // a failed open shows as failed reads
    std::uint16_t reg = 0;
    const Stats ours = Measure(n, [&] { return master.ReadHoldingRegisters(8000, 1, &reg) == 0; });
    master.ClosePort();
    // Back to back, each request also waits the quiet time after the reply.
    const double limitUs = WireUs({8000, 1}, baud, 2000) + QuietUs(baud);
    Row("1-register read, back to back" + tag + ", median vs limit", ours.median / 1000, limitUs / 1000, "ms",
        "<= 1.05x", ours.failures);
    if (!echo) {
      // libmodbus (which waits no quiet time) on the same simulated wire:
      // what the simulation itself adds to the wire time.
      Libmodbus client(sim.link(), 5);
      const Stats lm = Measure(n, [&] { return client.Read({8000, 1}); });
      Row("libmodbus, 1-register read" + tag + ", median vs wire time", lm.median / 1000,
          WireUs({8000, 1}, baud, 2000) / 1000, "ms", "-", lm.failures);
    }
  }
  {
    ktr::TModbus modbus;
    ktr::TKtrDevice device(modbus, nullptr, nullptr);
    device.SetSettings(settings);
    ktr::test::DeviceTestAccess::SetFirmwareVersion(device, 0x2304);
    const auto root = std::filesystem::temp_directory_path() / ("ktr-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    ktr::WebService web(device, root.string());
    std::ignore = web.Start("127.0.0.1", 0);  // a server that did not start fails every request
    const std::vector<Block> blocks{{10060, 19}, {0, 20}, {160, 10}, {10020, 8}};
    const Stats ours = Measure(std::max(3, n / 10), [&] {
      const auto r = ktr::test::Get(web.port(), "/get_index_data.cgi");
      return r.status == 200 && !r.body.empty();
    });
    web.Stop();
    std::filesystem::remove_all(root);
    double limitUs = 3 * 50000.0;
    for (Block b : blocks) limitUs += WireUs(b, baud, 2000);
    Row("GET /get_index_data.cgi" + tag + ", median vs limit", ours.median / 1000, limitUs / 1000, "ms",
        "<= 1.05x", ours.failures);
    if (!echo) {
      const Stats lm = Measure(std::max(3, n / 10), [&] {
        Libmodbus client(sim.link(), 5);
        for (Block b : blocks) {
          if (!client.Read(b)) return false;
        }
        return true;
      });
      Row("libmodbus, blocks of /get_index_data.cgi" + tag + ", median vs wire time", lm.median / 1000,
          (limitUs - 3 * 50000.0) / 1000, "ms", "-", lm.failures);
    }
  }
}

// What finding the reply (echo and frame checks) and the quiet time cost a
// request on a pty, where the wire takes no time: the scan's CPU time as a
// reply arrives byte by byte, and back-to-back reads against reads spaced
// beyond the quiet time.
void LineCosts(int n) {
  // The worst case for the scan: an echo, then a 76-register reply that
  // comes one byte at a time, scanned after each byte.
  std::uint8_t request[8];
  rtu::BuildReadRequest(request, 5, 3, 14000, 76);
  std::vector<std::uint8_t> line(request, request + 8);
  line.insert(line.end(), {5, 3, 152});
  line.resize(line.size() + 152, 0x11);
  const std::uint16_t crc = rtu::Crc16(line.data() + 8, line.size() - 8);
  line.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  line.push_back(static_cast<std::uint8_t>(crc >> 8));
  const rtu::ReplyRule rule{request, 8, 157, rtu::EchoRule::kDrop};
  volatile int sink = 0;
  const Stats scan = Measure(n, [&] {
    for (std::size_t k = 1; k <= line.size(); ++k) {
      sink = sink + static_cast<int>(rtu::ScanReply(rule, line.data(), k, false).verdict);
    }
    return true;
  });
  Row("reply scan, echo + 76-register reply byte by byte, per request", scan.median, 0, "us", "-");

  ktr::test::SimProcess sim({"--address", "5"});
  ktr::SerialSettings settings = SettingsFor(sim.link());
  settings.slaveAddress = 5;
  ktr::TModbus master;
  std::ignore = master.OpenPort(settings);  // a failed open shows as failed reads
  std::uint16_t reg = 0;
  const Stats backToBack = Measure(n, [&] { return master.ReadHoldingRegisters(8000, 1, &reg) == 0; });
  // The same reads, each after a pause beyond the quiet time (not timed).
  std::vector<double> spacedUs;
  for (int i = 0; i < n; ++i) {
    std::this_thread::sleep_for(milliseconds(3));
    const auto t0 = Clock::now();
    if (master.ReadHoldingRegisters(8000, 1, &reg) == 0) {
      spacedUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
  }
  master.ClosePort();
  std::sort(spacedUs.begin(), spacedUs.end());
  const double spaced = spacedUs.empty() ? 0 : spacedUs[spacedUs.size() / 2];
  Row("1-register read on a pty, after a pause (no quiet time to wait)", spaced / 1000, 0, "ms", "-");
  Row("1-register read on a pty at 19200 8E1, back to back: cost of the quiet time",
      (backToBack.median - spaced) / 1000, QuietUs(19200) / 1000, "ms", "<= 2 ms");
}

}  // namespace

void LineSection(bool quick) {
  for (unsigned baud : {1200U, 9600U, 19200U}) {
    for (bool echo : {false, true}) {
      LineRates(baud, echo, quick ? 10 : (baud == 1200 ? 20 : 60));
      Search(5, baud, echo);
    }
  }
  LineCosts(quick ? 100 : 500);
}

void TcpSection(bool quick);  // tcp_bench.cpp

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--line") {
    std::printf("| metric | ours | peer / floor | ratio | goal |\n|---|---|---|---|---|\n");
    LineSection(false);
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "--tcp") {
    std::printf("| metric | ours | peer / floor | ratio | goal |\n|---|---|---|---|---|\n");
    TcpSection(false);
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "--fleet") {
    std::printf("| metric | ours | peer / floor | ratio | goal |\n|---|---|---|---|---|\n");
    ktr::bench::FleetSection(false);
    return 0;
  }
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const int n = quick ? 200 : 2000;
  std::printf("| metric | ours | peer / floor | ratio | goal |\n|---|---|---|---|---|\n");
  {
    ktr::test::SimProcess sim;
    ModbusOverhead(sim.link(), n);
    HandOff(n * 5);
    Endpoints(sim.link(), 0, quick ? 30 : 200);
    ServeProcess(sim.link(), quick ? 2 : 10);
  }
#ifdef KTR_WINDOW_PATH
  WindowProcess();
#endif
  {
    ktr::test::SimProcess wire({"--wire", "19200"});
    Endpoints(wire.link(), 19200, quick ? 10 : 40);
  }
  Search(5);
  if (!quick) Search(126);
  LineSection(quick);
  TcpSection(quick);
  ktr::bench::FleetSection(quick);
  return 0;
}
