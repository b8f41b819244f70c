// One-register read latency of the master against a libmodbus client, both
// reading the same register from the same simulated device on one pty, and
// the idle worker's wake-ups. Prints a table; asserts nothing.
//
//   modbus_latency_bench [--requests N] [--idle-seconds S]
#include <dirent.h>
#include <modbus.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "modbus_master.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kRegister = 8000;

struct Stats {
  double median = 0;
  double p99 = 0;
  double mean = 0;
  int failures = 0;
};

Stats Summarise(std::vector<double> us, int failures) {
  Stats s;
  s.failures = failures;
  if (us.empty()) return s;
  std::sort(us.begin(), us.end());
  s.median = us[us.size() / 2];
  s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  double sum = 0;
  for (double v : us) sum += v;
  s.mean = sum / static_cast<double>(us.size());
  return s;
}

template <typename F>
Stats Measure(int requests, F&& readOnce) {
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(requests));
  int failures = 0;
  for (int i = 0; i < requests; ++i) {
    const auto t0 = Clock::now();
    const bool ok = readOnce();
    const auto t1 = Clock::now();
    if (!ok) {
      ++failures;
      continue;
    }
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  return Summarise(std::move(us), failures);
}

Stats MeasureMaster(const std::string& port, int requests) {
  ktr::TModbus master;
  ktr::SerialSettings s;
  s.portName = port;
  s.slaveAddress = 1;
  if (master.OpenPort(s) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", port.c_str(), master.LastOpenError().c_str());
    std::exit(1);
  }
  std::uint16_t value = 0;
  Stats st = Measure(requests, [&] { return master.ReadHoldingRegisters(kRegister, 1, &value) == 0; });
  master.ClosePort();
  return st;
}

// One access cycle as an endpoint runs it: open the port, read, close.
Stats MeasureMasterCycle(const std::string& port, int requests) {
  ktr::TModbus master;
  ktr::SerialSettings s;
  s.portName = port;
  s.slaveAddress = 1;
  std::uint16_t value = 0;
  return Measure(requests, [&] {
    if (master.OpenPort(s) != 0) return false;
    const bool ok = master.ReadHoldingRegisters(kRegister, 1, &value) == 0;
    master.ClosePort();
    return ok;
  });
}

Stats MeasureLibmodbusCycle(const std::string& port, int requests) {
  std::uint16_t value = 0;
  return Measure(requests, [&] {
    modbus_t* ctx = modbus_new_rtu(port.c_str(), 19200, 'N', 8, 1);
    if (ctx == nullptr || modbus_connect(ctx) != 0) return false;
    modbus_set_slave(ctx, 1);
    const bool ok = modbus_read_registers(ctx, kRegister, 1, &value) == 1;
    modbus_close(ctx);
    modbus_free(ctx);
    return ok;
  });
}

Stats MeasureLibmodbus(const std::string& port, int requests) {
  // Parity 'N' on a pty: libmodbus checks the read-back of its settings and a
  // pty always reports no parity.
  modbus_t* ctx = modbus_new_rtu(port.c_str(), 19200, 'N', 8, 1);
  if (ctx == nullptr || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "libmodbus cannot open %s\n", port.c_str());
    std::exit(1);
  }
  modbus_set_slave(ctx, 1);
  modbus_set_response_timeout(ctx, 1, 0);
  std::uint16_t value = 0;
  Stats st = Measure(requests, [&] { return modbus_read_registers(ctx, kRegister, 1, &value) == 1; });
  modbus_close(ctx);
  modbus_free(ctx);
  return st;
}

std::set<std::string> Threads() {
  std::set<std::string> tids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') tids.insert(e->d_name);
    }
    closedir(d);
  }
  return tids;
}

long ContextSwitches(const std::string& tid) {
  std::ifstream in("/proc/self/task/" + tid + "/status");
  std::string line;
  long total = 0;
  while (std::getline(in, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
        line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
      total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
  }
  return total;
}

// Wake-ups per second of the one thread that `start` creates, over `seconds`.
template <typename Start>
double IdleWakeups(Start&& start, int seconds) {
  const auto before = Threads();
  auto keep = start();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it settle
  std::string tid;
  for (const auto& t : Threads()) {
    if (before.count(t) == 0) tid = t;
  }
  if (tid.empty()) return -1;
  const long c0 = ContextSwitches(tid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long c1 = ContextSwitches(tid);
  return static_cast<double>(c1 - c0) / seconds;
}

// The peer for idle cost: a worker that looks at its command word every
// millisecond, the classic polling hand-off.
struct PollingWorker {
  std::atomic<bool> stop{false};
  std::thread thread{[this] {
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }};
  ~PollingWorker() {
    stop = true;
    thread.join();
  }
};

}  // namespace

int main(int argc, char** argv) {
  int requests = 2000;
  int idleSeconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--requests") requests = std::atoi(argv[i + 1]);
    if (a == "--idle-seconds") idleSeconds = std::atoi(argv[i + 1]);
  }

  ktr_test::SimProcess sim;
  // Warm both paths once, then alternate rounds so drift hits both alike.
  MeasureMaster(sim.link(), 50);
  MeasureLibmodbus(sim.link(), 50);
  std::vector<Stats> ours, theirs;
  for (int round = 0; round < 4; ++round) {
    ours.push_back(MeasureMaster(sim.link(), requests / 4));
    theirs.push_back(MeasureLibmodbus(sim.link(), requests / 4));
  }
  auto combine = [](const std::vector<Stats>& v) {
    std::vector<double> med, p99;
    int fail = 0;
    for (const auto& s : v) {
      med.push_back(s.median);
      p99.push_back(s.p99);
      fail += s.failures;
    }
    std::sort(med.begin(), med.end());
    std::sort(p99.begin(), p99.end());
    return Stats{med[med.size() / 2], p99[p99.size() / 2], 0, fail};
  };
  const Stats a = combine(ours);
  const Stats b = combine(theirs);
  std::vector<Stats> oursCycle, theirsCycle;
  for (int round = 0; round < 4; ++round) {
    oursCycle.push_back(MeasureMasterCycle(sim.link(), requests / 8));
    theirsCycle.push_back(MeasureLibmodbusCycle(sim.link(), requests / 8));
  }
  const Stats c = combine(oursCycle);
  const Stats d = combine(theirsCycle);

  const double oursIdle = IdleWakeups([] { return std::make_unique<ktr::TModbus>(); }, idleSeconds);
  const double pollIdle = IdleWakeups([] { return std::make_unique<PollingWorker>(); }, idleSeconds);

  std::printf("1-register read (function 3) from ktr-sim on one pty, %d requests each\n", requests);
  std::printf("%-22s %12s %12s %9s\n", "client", "median us", "p99 us", "failures");
  std::printf("%-22s %12.1f %12.1f %9d\n", "TModbus", a.median, a.p99, a.failures);
  std::printf("%-22s %12.1f %12.1f %9d\n", "libmodbus 3.1", b.median, b.p99, b.failures);
  std::printf("ratio TModbus/libmodbus: median %.2f, p99 %.2f (goal <= 1.20)\n", a.median / b.median,
              a.p99 / b.p99);
  std::printf("\nopen + 1-register read + close, as one endpoint access cycle, %d each\n", requests / 2);
  std::printf("%-22s %12.1f %12.1f %9d\n", "TModbus", c.median, c.p99, c.failures);
  std::printf("%-22s %12.1f %12.1f %9d\n", "libmodbus 3.1", d.median, d.p99, d.failures);
  std::printf("ratio TModbus/libmodbus: median %.2f, p99 %.2f\n", c.median / d.median, c.p99 / d.p99);
  std::printf("\nidle worker wake-ups per second over %d s\n", idleSeconds);
  std::printf("%-22s %12.1f (goal 0)\n", "TModbus", oursIdle);
  std::printf("%-22s %12.1f\n", "1 ms polling worker", pollIdle);
  return 0;
}
