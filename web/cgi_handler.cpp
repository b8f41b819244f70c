#include "cgi_handler.h"

#include "access_cycle.h"
#include "ktr_device.h"

namespace ktr {

namespace {

struct Route {
  std::string_view path;
  std::string (*call)(TKtrDevice& device, const std::string& parameters);
};

// Tested in this order; the day suffix of the schedule paths is part of the
// path (Sunday is day 0).
constexpr std::array<Route, CgiHandler::kRouteCount> kRoutes{{
    {"/get_index_data.cgi", [](TKtrDevice& d, const std::string&) { return d.GetIndexData(); }},
    {"/get_display_data.cgi", [](TKtrDevice& d, const std::string&) { return d.GetDisplayData(); }},
    {"/get_time_data.cgi", [](TKtrDevice& d, const std::string&) { return d.GetTimeData(); }},
    {"/get_counter_data.cgi", [](TKtrDevice& d, const std::string&) { return d.GetCounterData(); }},
    {"/get_set_data.cgi", [](TKtrDevice& d, const std::string&) { return d.GetSetData(); }},
    {"/get_sched_data.cgi&sun", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(0); }},
    {"/get_sched_data.cgi&mon", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(1); }},
    {"/get_sched_data.cgi&tue", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(2); }},
    {"/get_sched_data.cgi&wed", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(3); }},
    {"/get_sched_data.cgi&thu", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(4); }},
    {"/get_sched_data.cgi&fri", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(5); }},
    {"/get_sched_data.cgi&sat", [](TKtrDevice& d, const std::string&) { return d.GetSchedData(6); }},
    {"/get_web_data.cgi", [](TKtrDevice& d, const std::string&) { return d.GetWebData(); }},
    {"/get_config_status.cgi", [](TKtrDevice& d, const std::string&) { return d.GetConfigStatus(); }},
    {"/get_ktr_list.cgi", [](TKtrDevice& d, const std::string&) { return d.GetKtrList(); }},
    {"/login.cgi", [](TKtrDevice& d, const std::string& p) { return d.Login(p); }},
    {"/logout.cgi", [](TKtrDevice& d, const std::string&) { return d.Logout(); }},
    {"/set_default.cgi", [](TKtrDevice& d, const std::string&) { return d.SetDefault(); }},
    {"/run_config.cgi",
     [](TKtrDevice& d, const std::string&) {
       d.RunConfig();
       return std::string();
     }},
    {"/set_sched_data.cgi", [](TKtrDevice& d, const std::string& p) { return d.SetSchedData(p); }},
    {"/setdata.cgi", [](TKtrDevice& d, const std::string& p) { return d.SetData(p); }},
}};

// Beside the pages' 21: the Bus page's search of every address.
constexpr std::array<Route, 1> kBusRoutes{{
    {"/find_all.cgi", [](TKtrDevice& d, const std::string& p) { return d.FindAll(p); }},
}};

}  // namespace

CgiHandler::CgiHandler(TKtrDevice& device) : device_(device) {}

void CgiHandler::Dispatch(HttpResponse& response, const std::string& path,
                          const std::string& parameters) const {
  const auto find = [&path]() -> const Route* {
    for (const Route& route : kRoutes) {
      if (path == route.path) return &route;
    }
    for (const Route& route : kBusRoutes) {
      if (path == route.path) return &route;
    }
    return nullptr;
  };
  if (const Route* route = find()) {
    response.status = 200;
    BeginDeviceStatus();
    // A handler that throws leaves no status behind for the next reply.
    try {
      response.text = route->call(device_, parameters);
    } catch (...) {
      TakeDeviceStatus();
      throw;
    }
    response.deviceStatus = TakeDeviceStatus();
    return;
  }
  response = StatusReply(404, "404 Not Found", "");
}

std::array<std::string_view, CgiHandler::kRouteCount> CgiHandler::RoutePaths() {
  std::array<std::string_view, kRouteCount> paths{};
  for (std::size_t i = 0; i < kRouteCount; ++i) paths[i] = kRoutes[i].path;
  return paths;
}

}  // namespace ktr
