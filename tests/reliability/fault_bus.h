// The serial line of the fault tests, with a switch and a tap.
//
// The configurator opens the line through link(), like any serial port: a
// pseudo-terminal whose far side this object holds. Behind it is the bus:
// simulated devices (real ktr-sim processes, each on its own pty) that this
// object reaches through their links. Request bytes from the configurator go
// to the one device that is switched in; the replies of every device come
// back onto the line, so a device that answers late still reaches the line
// after it has been switched out, as it would on a real RS485 bus. Every
// request frame a device receives is recorded.
//
// HangUp() closes the line's pty (the USB adapter pulled out): the
// configurator's open port fails, and the port cannot be opened again until
// Reconnect() puts a new line behind the same link.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_hex.h"

namespace ktr::test {

class FaultBus {
 public:
  FaultBus();  // the line, behind a link in a new temporary folder
  ~FaultBus();
  FaultBus(const FaultBus&) = delete;
  FaultBus& operator=(const FaultBus&) = delete;

  // The port name the configurator opens.
  const std::string& link() const { return link_; }

  // Connects the device reached through `deviceLink` (ktr-sim's --pty link);
  // returns its number on this bus.
  int Attach(const std::string& deviceLink);
  // Requests go to device `device` from now on.
  void Route(int device);
  // Lets go of device `device` (its link is free for others to open); what
  // it received stays on record.
  void Detach(int device);

  // Runs `action` on the relay thread once, when the next request bytes from
  // the configurator arrive and before they are passed on: the moment for
  // mid-cycle events (killing the device, hanging up the line).
  void BeforeNextRequest(std::function<void()> action);
  // Closes the line (see above). May be called from an action.
  void HangUp();
  // A fresh line behind the same link.
  void Reconnect();

  // The request frames device `device` has received, in order.
  std::vector<Bytes> Requests(int device) const;
  // Waits until no byte has come from device `device` for `quiet` (its late
  // replies are all on the line); false when that takes longer than
  // `timeout`.
  bool WaitQuiet(int device, std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const;

 private:
  struct Device {
    int fd = -1;
    Bytes received;  // every request byte passed on to it
    std::chrono::steady_clock::time_point lastReply;
  };

  void Run();
  // Executes `job` on the relay thread and waits for it.
  void OnRelay(std::function<void()> job);
  void PointLinkAt(const std::string& target);
  void OpenLine();
  void CloseLine();
  void ForwardRequest(const std::uint8_t* data, std::size_t length);

  std::string folder_;
  std::string link_;
  int lineMaster_ = -1;
  int lineKeeper_ = -1;
  int wake_ = -1;  // eventfd: a job is waiting

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Device> devices_;
  int route_ = -1;
  std::function<void()> beforeNextRequest_;
  std::vector<std::function<void()>> jobs_;
  std::uint64_t jobsDone_ = 0;
  bool stop_ = false;
  std::thread relay_;
};

}  // namespace ktr::test
