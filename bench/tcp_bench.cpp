// The configurator behind an Ethernet gateway on loopback (ktr-sim --tcp and
// --rtu-tcp), against libmodbus's TCP client in the same run: one-register
// reads on one connection, and the display endpoint's whole access cycle
// (connect, read, close) through the web server.
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "http_client.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "rtu_frame.h"
#include "sim_process.h"
#include "web_service.h"

namespace {

using namespace ktr::bench;

// The port of "tcp://127.0.0.1:PORT".
int PortOf(const std::string& name) { return std::atoi(name.substr(name.rfind(':') + 1).c_str()); }

// libmodbus on the simulator's TCP port: its TCP client, or for RTU over
// TCP an RTU context on a socket connected here (libmodbus has no RTU over
// TCP of its own; its RTU code reads and writes any descriptor).
class LibmodbusTcp {
 public:
  LibmodbusTcp(const std::string& name, bool rtu) : rtu_(rtu) {
    if (!rtu) {
      ctx_ = modbus_new_tcp("127.0.0.1", PortOf(name));
      if (ctx_ == nullptr || modbus_connect(ctx_) != 0) Fail(name);
    } else {
      fd_ = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<std::uint16_t>(PortOf(name)));
      if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail(name);
      const int one = 1;
      setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ctx_ = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
      modbus_set_socket(ctx_, fd_);
    }
    modbus_set_slave(ctx_, 1);
    modbus_set_response_timeout(ctx_, 3, 0);
  }
  ~LibmodbusTcp() {
    if (!rtu_) modbus_close(ctx_);
    if (fd_ >= 0) close(fd_);
    modbus_free(ctx_);
  }
  bool Read(std::uint16_t start, std::uint16_t count) {
    std::uint16_t regs[128];
    return modbus_read_registers(ctx_, start, count, regs) == count;
  }

 private:
  [[noreturn]] static void Fail(const std::string& name) {
    std::fprintf(stderr, "libmodbus cannot connect to %s\n", name.c_str());
    std::exit(1);
  }
  bool rtu_;
  int fd_ = -1;
  modbus_t* ctx_ = nullptr;
};

ktr::SerialSettings SettingsFor(const std::string& name) {
  ktr::SerialSettings s;
  s.portName = name;
  s.slaveAddress = 1;
  return s;
}

// Medians of alternating rounds, so that drift of the machine hits both
// alike. Each round is given its count and measures on a connection of its
// own: the simulated gateway serves one client at a time.
template <typename A, typename B>
std::pair<Stats, Stats> Alternate(int n, A&& oursRound, B&& peerRound) {
  std::vector<Stats> a, p;
  for (int round = 0; round < 4; ++round) {
    a.push_back(oursRound(n / 4));
    p.push_back(peerRound(n / 4));
  }
  const auto mid = [](std::vector<Stats> v, double Stats::*field) {
    std::sort(v.begin(), v.end(), [field](const Stats& x, const Stats& y) { return x.*field < y.*field; });
    return v[v.size() / 2].*field;
  };
  Stats o{mid(a, &Stats::median), mid(a, &Stats::p99), 0};
  Stats q{mid(p, &Stats::median), mid(p, &Stats::p99), 0};
  for (const Stats& s : a) o.failures += s.failures;
  for (const Stats& s : p) q.failures += s.failures;
  return {o, q};
}

void OneRegisterReads(const std::string& name, bool rtu, int n) {
  ktr::TModbus master;
  std::uint16_t reg = 0;
  const auto [ours, lm] = Alternate(
      n,
      [&](int k) {
        std::ignore = master.OpenPort(SettingsFor(name));  // a failed open shows as failed reads
        const Stats s = Measure(k, [&] { return master.ReadHoldingRegisters(8000, 1, &reg) == 0; });
        master.ClosePort();
        return s;
      },
      [&](int k) {
        LibmodbusTcp peer(name, rtu);
        return Measure(k, [&] { return peer.Read(8000, 1); });
      });
  const std::string what = std::string("1-register read, loopback ") + (rtu ? "RTU over TCP" : "Modbus TCP");
  if (!rtu) {
    Row(what + " vs libmodbus, median", ours.median, lm.median, "us", "<= 1.2x", ours.failures + lm.failures);
    Row(what + " vs libmodbus, p99", ours.p99, lm.p99, "us", "<= 1.2x");
  } else {
    // Back to back, each request first waits the quiet time after the
    // reply (19200 8E1), as on a line; libmodbus waits none.
    const double quietUs = static_cast<double>(rtu::QuietTimeNs(19200, 8, 2, 0)) / 1000.0;
    Row(what + ", back to back, median vs libmodbus + quiet time", ours.median, lm.median + quietUs, "us",
        "<= 1.2x", ours.failures + lm.failures);
  }
}

// GET /get_display_data.cgi: the web server, the access cycle (a connection
// of its own) and one 6-register read. The floor: libmodbus doing the same
// cycle (connect, read, close) plus the HTTP round trip of an endpoint that
// touches no device.
void DisplayEndpoint(const std::string& name, int n) {
  ktr::TModbus modbus;
  ktr::TKtrDevice device(modbus, nullptr, nullptr);
  device.SetSettings(SettingsFor(name));
  const auto root = std::filesystem::temp_directory_path() / ("ktr-bench-tcp-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  ktr::WebService web(device, root.string());
  std::ignore = web.Start("127.0.0.1", 0);  // a server that did not start fails every request
  const auto [ours, lm] = Alternate(
      n,
      [&](int k) {
        return Measure(k, [&] {
          const auto r = ktr::test::Get(web.port(), "/get_display_data.cgi");
          return r.status == 200 && r.Header("X-Device-Status") == "ok";
        });
      },
      [&](int k) {
        return Measure(k, [&] {
          LibmodbusTcp client(name, false);
          return client.Read(10000, 6);
        });
      });
  const Stats http = Measure(n, [&] { return ktr::test::Get(web.port(), "/logout.cgi").status == 200; });
  web.Stop();
  std::filesystem::remove_all(root);
  Row("libmodbus TCP client: connect, 6-register read, close, median", lm.median, 0, "us", "-", lm.failures);
  Row("HTTP round trip of GET /logout.cgi (no device), median", http.median, 0, "us", "-", http.failures);
  Row("GET /get_display_data.cgi, loopback Modbus TCP, median vs libmodbus cycle + HTTP", ours.median,
      lm.median + http.median, "us", "<= 1.2x", ours.failures + lm.failures);
  Row("GET /get_display_data.cgi, loopback Modbus TCP, p99 vs libmodbus cycle + HTTP", ours.p99,
      lm.p99 + http.median, "us", "<= 1.2x");
}

}  // namespace

void TcpSection(bool quick) {
  const int n = quick ? 200 : 2000;
  {
    ktr::test::SimProcess gateway({"--tcp", "127.0.0.1:0"});
    OneRegisterReads(gateway.link(), false, n);
    DisplayEndpoint(gateway.link(), quick ? 100 : 1000);
  }
  {
    ktr::test::SimProcess gateway({"--rtu-tcp", "127.0.0.1:0"});
    OneRegisterReads(gateway.link(), true, quick ? 100 : 500);
  }
}
