#include "cgi_handler.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>

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

// Beside the pages' 21: the Bus page's search of every address, and the
// choice of the device every later request goes to.
constexpr std::array<Route, 2> kBusRoutes{{
    {"/find_all.cgi", [](TKtrDevice& d, const std::string& p) { return d.FindAll(p); }},
    {"/select_device.cgi", [](TKtrDevice& d, const std::string& p) { return d.SelectDevice(p); }},
}};

// The reads whose reply depends only on the device: one in flight may
// serve every identical request that arrives before it takes the device.
bool SharedRead(std::string_view path, const std::string& parameters) {
  return parameters.empty() &&
         (path.rfind("/get_sched_data.cgi&", 0) == 0 || path == "/get_index_data.cgi" ||
          path == "/get_display_data.cgi" || path == "/get_time_data.cgi" ||
          path == "/get_counter_data.cgi" || path == "/get_set_data.cgi" || path == "/get_config_status.cgi");
}

bool WriteRoute(std::string_view path) {
  return path == "/setdata.cgi" || path == "/set_sched_data.cgi" || path == "/set_default.cgi" ||
         path == "/run_config.cgi" || path == "/select_device.cgi";
}

}  // namespace

// One read per path that has not yet taken the device ("waiting"); a
// request for the same path joins it and waits for its reply. Once the read
// holds the device it leaves "waiting", so a request that arrives later
// starts a read of its own: a shared reply is never older than the request
// that receives it.
class CgiHandler::SharedReads {
 public:
  using Call = std::function<void(std::function<void()> onLocked)>;

  // `call` builds the reply into `response`, calling its argument once the
  // read holds the device.
  void Run(std::string_view path, HttpResponse& response, const Call& call) {
    std::shared_ptr<Flight> flight;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (const auto it = waiting_.find(path); it != waiting_.end()) {
        const std::shared_ptr<Flight> joined = it->second;
        ++joined_;
        done_.wait(lock, [&joined] { return joined->done; });
        if (joined->error) std::rethrow_exception(joined->error);
        response.status = 200;
        response.text = joined->text;
        response.deviceStatus = joined->deviceStatus;
        response.deviceAddress = joined->deviceAddress;
        return;
      }
      flight = std::make_shared<Flight>();
      waiting_.emplace(path, flight);
    }
    std::exception_ptr error;
    try {
      call([this, path, f = flight.get()] { Leave(path, f); });
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      LeaveLocked(path, flight.get());
      flight->error = error;
      if (!error) {
        flight->text = response.text.value_or(std::string());
        flight->deviceStatus = response.deviceStatus;
        flight->deviceAddress = response.deviceAddress;
      }
      flight->done = true;
    }
    done_.notify_all();
    if (error) std::rethrow_exception(error);
  }

  // Requests that took another request's reply so far.
  std::size_t Joined() {
    std::lock_guard<std::mutex> lock(mutex_);
    return joined_;
  }

 private:
  struct Flight {
    bool done = false;
    std::string text;
    std::string deviceStatus;
    int deviceAddress = 0;
    std::exception_ptr error;
  };

  void Leave(std::string_view path, const Flight* flight) {
    std::lock_guard<std::mutex> lock(mutex_);
    LeaveLocked(path, flight);
  }
  void LeaveLocked(std::string_view path, const Flight* flight) {
    const auto it = waiting_.find(path);
    if (it != waiting_.end() && it->second.get() == flight) waiting_.erase(it);
  }

  std::mutex mutex_;
  std::condition_variable done_;
  // Keys are the route table's own paths (static storage).
  std::map<std::string_view, std::shared_ptr<Flight>, std::less<>> waiting_;
  std::size_t joined_ = 0;
};

CgiHandler::CgiHandler(TKtrDevice& device) : device_(device), shared_(std::make_unique<SharedReads>()) {}

CgiHandler::~CgiHandler() = default;

std::size_t CgiHandler::SharedReplies() const { return shared_->Joined(); }

void CgiHandler::Dispatch(HttpResponse& response, const std::string& path, const std::string& parameters,
                          int expectedAddress) const {
  const auto find = [&path]() -> const Route* {
    for (const Route& route : kRoutes) {
      if (path == route.path) return &route;
    }
    for (const Route& route : kBusRoutes) {
      if (path == route.path) return &route;
    }
    return nullptr;
  };
  const Route* route = find();
  if (route == nullptr) {
    response = StatusReply(404, "404 Not Found", "");
    return;
  }
  const auto call = [&](std::function<void()> onLocked) {
    response.status = 200;
    const bool write = WriteRoute(route->path);
    BeginDeviceStatus(write, std::move(onLocked),
                      write && route->path != "/select_device.cgi" ? expectedAddress : 0);
    // A handler that throws leaves no status behind for the next reply.
    try {
      response.text = route->call(device_, parameters);
    } catch (...) {
      TakeDeviceStatus();
      throw;
    }
    const bool otherDevice = DeviceWasOther();
    response.deviceStatus = TakeDeviceStatus(&response.deviceAddress);
    if (otherDevice) {
      const int inUse = response.deviceAddress;
      response =
          StatusReply(409, "The configurator now works on the device at address " + std::to_string(inUse) +
                               " (chosen on another page); nothing was sent to a device.");
      response.deviceAddress = inUse;
    }
  };
  if (SharedRead(route->path, parameters)) {
    shared_->Run(route->path, response, call);
  } else {
    call({});
  }
}

std::array<std::string_view, CgiHandler::kRouteCount> CgiHandler::RoutePaths() {
  std::array<std::string_view, kRouteCount> paths{};
  for (std::size_t i = 0; i < kRouteCount; ++i) paths[i] = kRoutes[i].path;
  return paths;
}

}  // namespace ktr
