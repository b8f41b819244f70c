#include "endpoint_cases.h"

#include "frame_hex.h"

namespace ktr::reliability {

using ktr::test::WriteMultipleFrame;
using ktr::test::WriteSingleFrame;

std::vector<EndpointCase> ReadEndpoints() {
  std::vector<EndpointCase> cases{
      {"index", "GET", "/get_index_data.cgi", "", 4,
       {"Error read SET_10060_10078 registers !!!", "Error read SET_0_19 registers !!!",
        "Error read SET_160_169 registers !!!", "Error read SET_10020_10027 registers !!!"},
       {}},
      {"display", "GET", "/get_display_data.cgi", "", 1, {"Error read SET_10000_10005 registers !!!"}, {}},
      {"time", "GET", "/get_time_data.cgi", "", 1, {"Error read SET_10020_10027 registers !!!"}, {}},
      {"counter", "GET", "/get_counter_data.cgi", "", 1, {"Error read SET_10040_10046 registers !!!"}, {}},
      {"settings", "GET", "/get_set_data.cgi", "", 6,
       {"Error read SET_10060_10078 registers !!!", "Error read SET_10300_10303 registers !!!",
        "Error read SET_10080 register !!!", "Error read SET_10084 register !!!",
        "Error read SET_10100 register !!!", "Error read SET_10101_10228 register !!!"},
       {}},
  };
  for (int day = 0; day < 7; ++day) {
    const std::string name = kDayNames[day];
    cases.push_back({"sched_" + name, "GET", "/get_sched_data.cgi&" + name, "", 1,
                     {"Error read SET_14" + std::to_string(day) + "00 registers !!!"}, {}});
  }
  // The configuration status read logs nothing when it fails.
  cases.push_back({"config", "GET", "/get_config_status.cgi", "", 1, {}, {}});
  return cases;
}

std::vector<EndpointCase> WriteEndpoints() {
  return {
      {"set_default", "POST", "/set_default.cgi", "", 1, {}, WriteSingleFrame(1, 10082, 0x5555)},
      {"run_config", "POST", "/run_config.cgi", "", 1, {}, WriteSingleFrame(1, 10080, 0x5555)},
      {"setdata", "GET", "/setdata.cgi?tmpe=7", "", 1, {}, WriteSingleFrame(1, 10000, 7)},
      {"set_sched", "POST", "/set_sched_data.cgi", "day=tue&idx=1&tp_status=1&tp_time=07:30&tp_len=4", 1,
       {}, WriteMultipleFrame(1, 14204, {1, 7 * 256 + 30, 4})},
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

}  // namespace ktr::reliability
