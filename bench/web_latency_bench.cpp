// Endpoint latency over HTTP against the floor of the serial work: the
// display endpoint (one 6-register block) against a libmodbus client reading
// the same registers from the same simulated device, and the index endpoint
// (four blocks, three 50 ms pauses) against those pauses. Prints a table.
//
//   web_latency_bench [--requests N]
#include <modbus.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "http_client.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "sim_process.h"
#include "web_service.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
  double median = 0;
  double p99 = 0;
  int failures = 0;
};

template <typename F>
Stats Measure(int n, F&& once) {
  std::vector<double> us;
  int failures = 0;
  for (int i = 0; i < n; ++i) {
    const auto t0 = Clock::now();
    const bool ok = once();
    const double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (ok) {
      us.push_back(elapsed);
    } else {
      ++failures;
    }
  }
  Stats s;
  s.failures = failures;
  if (!us.empty()) {
    std::sort(us.begin(), us.end());
    s.median = us[us.size() / 2];
    s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  }
  return s;
}

// libmodbus reading the display block, either on one open connection or
// opening and closing the port for every read as the endpoint does.
Stats LibmodbusDisplay(const std::string& port, int n, bool reopen) {
  auto open = [&] {
    modbus_t* ctx = modbus_new_rtu(port.c_str(), 19200, 'N', 8, 1);  // a pty reports no parity
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
      std::fprintf(stderr, "libmodbus cannot open %s\n", port.c_str());
      std::exit(1);
    }
    modbus_set_slave(ctx, 1);
    return ctx;
  };
  auto close = [](modbus_t* ctx) {
    modbus_close(ctx);
    modbus_free(ctx);
  };
  std::uint16_t regs[6];
  modbus_t* ctx = reopen ? nullptr : open();
  Stats s = Measure(n, [&] {
    if (reopen) ctx = open();
    const bool ok = modbus_read_registers(ctx, 10000, 6, regs) == 6;
    if (reopen) close(ctx);
    return ok;
  });
  if (!reopen) close(ctx);
  return s;
}

void Row(const char* name, const Stats& s, const char* unit, double scale) {
  std::printf("%-44s %10.2f %10.2f %s %6d\n", name, s.median / scale, s.p99 / scale, unit, s.failures);
}

}  // namespace

int main(int argc, char** argv) {
  int requests = 300;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--requests") requests = std::atoi(argv[i + 1]);
  }

  ktr_test::SimProcess sim;
  ktr::TModbus modbus;
  ktr::TKtrDevice device(modbus, nullptr, nullptr);
  ktr::SerialSettings settings;
  settings.portName = sim.link();
  settings.slaveAddress = 1;
  device.SetSettings(settings);
  const auto root = std::filesystem::temp_directory_path() / ("ktr-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  ktr::WebService web(device, root.string());
  if (const std::string error = web.Start("127.0.0.1", 0); !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::uint16_t port = web.port();
  auto get = [port](const char* target) {
    return [port, target] {
      const auto reply = ktr::web_test::Get(port, target);
      return reply.status == 200 && !reply.body.empty();
    };
  };

  get("/get_display_data.cgi")();  // warm up
  const Stats display = Measure(requests, get("/get_display_data.cgi"));
  const Stats logout = Measure(requests, get("/logout.cgi"));
  const Stats lmReopen = LibmodbusDisplay(sim.link(), requests, true);
  const Stats lmKept = LibmodbusDisplay(sim.link(), requests, false);
  const int indexRequests = std::max(10, requests / 10);
  const Stats index = Measure(indexRequests, get("/get_index_data.cgi"));
  web.Stop();
  std::filesystem::remove_all(root);

  std::printf("endpoint latency on a pty with ktr-sim (HTTP over loopback, one request per connection)\n");
  std::printf("%-44s %10s %10s %s %6s\n", "", "median", "p99", "  ", "fail");
  Row("GET /get_display_data.cgi", display, "us", 1);
  Row("GET /logout.cgi (HTTP only, no device)", logout, "us", 1);
  Row("libmodbus 6 registers, open+read+close", lmReopen, "us", 1);
  Row("libmodbus 6 registers, port kept open", lmKept, "us", 1);
  std::printf("ratio display endpoint / libmodbus open+read+close: median %.2f, p99 %.2f\n",
              display.median / lmReopen.median, display.p99 / lmReopen.p99);
  std::printf("ratio (display - HTTP only) / libmodbus open+read+close: median %.2f\n",
              (display.median - logout.median) / lmReopen.median);
  Row("GET /get_index_data.cgi (ms)", index, "ms", 1000);
  std::printf("index endpoint / floor of 3 x 50 ms pauses: median %.3f, p99 %.3f\n",
              index.median / 150000.0, index.p99 / 150000.0);
  return 0;
}
