#include "endpoint_cases.h"

#include "frame_hex.h"

namespace ktr::test {

std::vector<EndpointCase> ReadEndpoints() {
  const auto read = [](std::uint16_t start, std::uint16_t count) {
    return ReadRequestFrame(1, 3, start, count);
  };
  std::vector<EndpointCase> cases{
      {"index",
       "GET",
       "/get_index_data.cgi",
       "",
       4,
       {"Error read SET_10060_10078 registers !!!", "Error read SET_0_19 registers !!!",
        "Error read SET_160_169 registers !!!", "Error read SET_10020_10027 registers !!!"},
       {},
       {read(10060, 19), read(0, 20), read(160, 10), read(10020, 8)}},
      {"display",
       "GET",
       "/get_display_data.cgi",
       "",
       1,
       {"Error read SET_10000_10005 registers !!!"},
       {},
       {read(10000, 6)}},
      {"time",
       "GET",
       "/get_time_data.cgi",
       "",
       1,
       {"Error read SET_10020_10027 registers !!!"},
       {},
       {read(10020, 8)}},
      {"counter",
       "GET",
       "/get_counter_data.cgi",
       "",
       1,
       {"Error read SET_10040_10046 registers !!!"},
       {},
       {read(10040, 7)}},
      {"settings",
       "GET",
       "/get_set_data.cgi",
       "",
       6,
       {"Error read SET_10060_10078 registers !!!", "Error read SET_10300_10303 registers !!!",
        "Error read SET_10080 register !!!", "Error read SET_10084 register !!!",
        "Error read SET_10100 register !!!", "Error read SET_10101_10228 register !!!"},
       {},
       {read(10060, 19), read(10300, 4), read(10080, 1), read(10084, 1), read(10100, 1), read(10101, 3)}},
  };
  for (int day = 0; day < 7; ++day) {
    const std::string name = kDayNames[day];
    const auto start = static_cast<std::uint16_t>(14000 + 100 * day);
    cases.push_back({"sched_" + name,
                     "GET",
                     "/get_sched_data.cgi&" + name,
                     "",
                     1,
                     {"Error read SET_" + std::to_string(start) + " registers !!!"},
                     {},
                     {read(start, 76)}});
  }
  // The configuration status read logs nothing when it fails.
  cases.push_back({"config", "GET", "/get_config_status.cgi", "", 1, {}, {}, {read(10080, 1)}});
  return cases;
}

std::vector<EndpointCase> WriteEndpoints() {
  return {
      {"set_default", "POST", "/set_default.cgi", "", 1, {}, WriteSingleFrame(1, 10082, 0x5555), {}},
      {"run_config", "POST", "/run_config.cgi", "", 1, {}, WriteSingleFrame(1, 10080, 0x5555), {}},
      {"setdata", "GET", "/setdata.cgi?tmpe=7", "", 1, {}, WriteSingleFrame(1, 10000, 7), {}},
      {"set_sched",
       "POST",
       "/set_sched_data.cgi",
       "day=tue&idx=1&tp_status=1&tp_time=07:30&tp_len=4",
       1,
       {},
       WriteMultipleFrame(1, 14204, {1, 7 * 256 + 30, 4}),
       {}},
  };
}

std::vector<EndpointCase> DeviceEndpoints() {
  std::vector<EndpointCase> all = ReadEndpoints();
  for (EndpointCase& w : WriteEndpoints()) all.push_back(std::move(w));
  return all;
}

int CycleBoundMs(const EndpointCase& endpoint, int timeoutMs) {
  // Per request: the write, the reply and, after a reply that did not come
  // in time, as long again for a late one to pass.
  const int n = endpoint.deviceRequests;
  return n * 3 * timeoutMs + (n > 1 ? (n - 1) * 50 : 0) + 3000;
}

}  // namespace ktr::test
