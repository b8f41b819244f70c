// "/find_all.cgi": the Bus page's "Find all devices". The search of every
// address runs on a thread of its own, one probe per access cycle, so the
// pages' requests go on between two probes; the page starts it and then asks
// for its state until it is done.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "bus_inventory.h"
#include "config_document.h"
#include "json_reply.h"
#include "ktr_device.h"

namespace ktr {
namespace {

// The configurator's reply time-out (the window's and `serve`'s), for the
// checks.
constexpr std::int32_t kCheckTimeoutMs = 1000;
constexpr std::string_view kStart = "start=1";

// The device the pages talk to, as the last device search found it.
void WriteDevice(JsonReply& json, const TKtrDevice& device) {
  json.Key("device");
  json.StartObject();
  json.Member("address", static_cast<std::uint32_t>(device.Settings().slaveAddress));
  json.Member("firmware", device.FirmwareTextCopy());
  json.Member("version", VersionText(device.FirmwareVersionValue()));
  json.EndObject();
}

}  // namespace

class FindAllScan {
 public:
  explicit FindAllScan(TKtrDevice& device)
      : device_(device), started_(Clock::now()), thread_([this] { Run(); }) {}
  ~FindAllScan() {
    stop_.store(true);
    thread_.join();
  }
  FindAllScan(const FindAllScan&) = delete;
  FindAllScan& operator=(const FindAllScan&) = delete;

  bool running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }

  // Members "state" to "found" (without the device).
  void Write(JsonReply& json) const {
    std::lock_guard<std::mutex> lock(mutex_);
    json.Member("state", running_ ? "running" : "done");
    json.Member("phase", !running_ ? "" : progress_.checking ? "check" : "probe");
    json.Member("position", static_cast<std::uint32_t>(progress_.position));
    json.Member("total", static_cast<std::uint32_t>(progress_.total));
    const auto end = running_ ? Clock::now() : ended_;
    json.Member("elapsed_ms",
                static_cast<std::uint32_t>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(end - started_).count()));
    WriteDevice(json, device_);
    json.Key("candidates");
    json.StartArray();
    for (int a : progress_.candidates) json.Uint(static_cast<std::uint32_t>(a));
    json.EndArray();
    json.Key("found");
    json.StartArray();
    for (const InventoryEntry& e : found_) {
      json.StartObject();
      json.Member("address", static_cast<std::uint32_t>(e.address));
      json.Member("firmware", e.firmware);
      json.Member("version", VersionText(e.version));
      json.Member("note", e.note);
      json.EndObject();
    }
    json.EndArray();
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Run() {
    InventoryCallbacks cb;
    cb.stopRequested = [this] { return stop_.load(); };
    cb.progress = [this](const InventoryProgress& p) {
      std::lock_guard<std::mutex> lock(mutex_);
      progress_ = p;
    };
    cb.found = [this](const InventoryEntry& e) {
      std::lock_guard<std::mutex> lock(mutex_);
      found_.push_back(e);
    };
    // What it finds went to the callbacks; a port that failed is in the log.
    std::ignore = RunInventory(device_, kCheckTimeoutMs, cb);
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    ended_ = Clock::now();
  }

  TKtrDevice& device_;
  mutable std::mutex mutex_;
  bool running_ = true;
  InventoryProgress progress_;
  std::vector<InventoryEntry> found_;
  const Clock::time_point started_;
  Clock::time_point ended_{};
  std::atomic<bool> stop_{false};
  std::thread thread_;  // last: it starts once everything else is there
};

void TKtrDevice::FindAllStop::operator()(FindAllScan* scan) const { delete scan; }

std::string TKtrDevice::FindAll(const std::string& parameters) {
  std::lock_guard<std::mutex> lock(findAllMutex_);
  JsonReply json;
  json.StartObject();
  if (parameters == kStart) {
    if (findAll_ && findAll_->running()) {
      json.Member("answer", "no");
      json.Member("reason", "A search of the bus is already running.");
    } else {
      findAll_.reset();  // the last search, done: its thread has ended
      findAll_.reset(new FindAllScan(*this));
      json.Member("answer", "yes");
    }
  } else if (findAll_) {
    findAll_->Write(json);
  } else {
    json.Member("state", "idle");
    json.Member("phase", "");
    json.Member("position", 0U);
    json.Member("total", static_cast<std::uint32_t>(InventoryProgress{}.total));
    json.Member("elapsed_ms", 0U);
    WriteDevice(json, *this);
    json.Key("candidates");
    json.StartArray();
    json.EndArray();
    json.Key("found");
    json.StartArray();
    json.EndArray();
  }
  json.EndObject();
  return json.Text();
}

}  // namespace ktr
