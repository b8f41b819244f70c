#include "fault_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace ktr::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Throw(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Raw: every byte passes unchanged, nothing is echoed.
void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) Throw("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &t) != 0) Throw("tcsetattr");
}

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Writes what the far side takes; on a full or gone line the rest is lost,
// as bytes are on a real line that nobody reads.
void WriteSome(int fd, const std::uint8_t* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = write(fd, data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

}  // namespace

FaultBus::FaultBus() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ktr-bus-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Throw("mkdtemp");
  folder_ = pattern;
  link_ = folder_ + "/ttyBUS";
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) Throw("eventfd");
  OpenLine();
  relay_ = std::thread([this] { Run(); });
}

FaultBus::~FaultBus() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  const std::uint64_t one = 1;
  (void)!write(wake_, &one, sizeof one);
  relay_.join();
  if (lineMaster_ >= 0) close(lineMaster_);
  if (lineKeeper_ >= 0) close(lineKeeper_);
  for (Device& d : devices_) {
    if (d.fd >= 0) close(d.fd);
  }
  close(wake_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void FaultBus::PointLinkAt(const std::string& target) {
  // In one step, so the name never dangles half-way.
  const std::string temporary = link_ + ".new";
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), link_.c_str()) != 0) {
    Throw("cannot link " + link_);
  }
}

void FaultBus::OpenLine() {
  char name[128] = {};
  if (openpty(&lineMaster_, &lineKeeper_, name, nullptr, nullptr) != 0) Throw("openpty");
  MakeRaw(lineMaster_);
  MakeRaw(lineKeeper_);
  SetNonBlocking(lineMaster_);
  fcntl(lineKeeper_, F_SETFD, FD_CLOEXEC);
  PointLinkAt(name);
}

void FaultBus::CloseLine() {
  // The master goes first: the configurator's port sees the hang-up even
  // while it holds the slave open.
  if (lineMaster_ >= 0) close(lineMaster_);
  if (lineKeeper_ >= 0) close(lineKeeper_);
  lineMaster_ = lineKeeper_ = -1;
  // The pty's number is free again and the next pty of any process may get
  // it: the name must not lead there (an unplugged adapter's device node is
  // gone too).
  PointLinkAt(folder_ + "/unplugged");
}

void FaultBus::OnRelay(std::function<void()> job) {
  if (std::this_thread::get_id() == relay_.get_id()) {
    job();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  jobs_.push_back(std::move(job));
  const std::uint64_t target = jobsDone_ + jobs_.size();
  const std::uint64_t one = 1;
  (void)!write(wake_, &one, sizeof one);
  changed_.wait(lock, [&] { return jobsDone_ >= target; });
}

int FaultBus::Attach(const std::string& deviceLink) {
  int number = -1;
  OnRelay([&] {
    const int fd = open(deviceLink.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    MakeRaw(fd);
    tcflush(fd, TCIOFLUSH);
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.push_back(Device{fd, {}, Clock::now()});
    number = static_cast<int>(devices_.size()) - 1;
  });
  if (number < 0) Throw("cannot open " + deviceLink);
  return number;
}

void FaultBus::Route(int device) {
  std::lock_guard<std::mutex> lock(mutex_);
  route_ = device;
}

void FaultBus::Detach(int device) {
  OnRelay([this, device] {
    std::lock_guard<std::mutex> lock(mutex_);
    Device& d = devices_.at(static_cast<std::size_t>(device));
    if (d.fd >= 0) close(d.fd);
    d.fd = -1;
  });
}

void FaultBus::BeforeNextRequest(std::function<void()> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  beforeNextRequest_ = std::move(action);
}

void FaultBus::HangUp() {
  OnRelay([this] { CloseLine(); });
}

void FaultBus::Reconnect() {
  OnRelay([this] {
    CloseLine();
    OpenLine();
  });
}

std::vector<Bytes> FaultBus::Requests(int device) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ktr::test::SplitRequests(devices_.at(static_cast<std::size_t>(device)).received);
}

bool FaultBus::WaitQuiet(int device, std::chrono::milliseconds quiet,
                         std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    Clock::time_point last;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last = devices_.at(static_cast<std::size_t>(device)).lastReply;
    }
    const auto now = Clock::now();
    if (now - last >= quiet) return true;
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void FaultBus::ForwardRequest(const std::uint8_t* data, std::size_t length) {
  // The request is on record before the action runs: an action that hangs
  // the line up lets the configurator answer at once, and the test may ask
  // for the requests before this thread gets on.
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    action.swap(beforeNextRequest_);
    if (route_ >= 0 && route_ < static_cast<int>(devices_.size())) {
      Device& d = devices_[static_cast<std::size_t>(route_)];
      if (d.fd >= 0) d.received.insert(d.received.end(), data, data + length);
    }
  }
  if (action) action();
  std::lock_guard<std::mutex> lock(mutex_);
  if (route_ < 0 || route_ >= static_cast<int>(devices_.size())) return;
  Device& d = devices_[static_cast<std::size_t>(route_)];
  if (d.fd < 0) return;  // the device is gone: the request meets silence
  WriteSome(d.fd, data, length);
}

void FaultBus::Run() {
  std::uint8_t buffer[4096];
  for (;;) {
    // All descriptors are opened and closed on this thread, so the set
    // polled here is never stale.
    std::vector<pollfd> fds{{wake_, POLLIN, 0}};
    std::vector<int> owners{-2};  // -2 wake, -1 line, n device
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      if (lineMaster_ >= 0) {
        fds.push_back({lineMaster_, POLLIN, 0});
        owners.push_back(-1);
      }
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].fd < 0) continue;
        fds.push_back({devices_[i].fd, POLLIN, 0});
        owners.push_back(static_cast<int>(i));
      }
    }
    if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) return;

    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      const int owner = owners[k];
      if (owner == -2) {
        std::uint64_t count = 0;
        (void)!read(wake_, &count, sizeof count);
        std::vector<std::function<void()>> jobs;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          jobs.swap(jobs_);
        }
        for (auto& job : jobs) job();
        {
          std::lock_guard<std::mutex> lock(mutex_);
          jobsDone_ += jobs.size();
        }
        changed_.notify_all();
        // The set of descriptors may have changed: poll again.
        break;
      }
      if (owner == -1) {
        if (lineMaster_ < 0) continue;
        const ssize_t n = read(lineMaster_, buffer, sizeof buffer);
        if (n <= 0) continue;
        ForwardRequest(buffer, static_cast<std::size_t>(n));
        continue;
      }
      Device& d = devices_[static_cast<std::size_t>(owner)];
      const ssize_t n = read(d.fd, buffer, sizeof buffer);
      if (n > 0) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          d.lastReply = Clock::now();
        }
        if (lineMaster_ >= 0) WriteSome(lineMaster_, buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR) ||
                 (fds[k].revents & (POLLHUP | POLLERR)) != 0) {
        // The simulator is gone (its pty closed): from now on it is silent.
        std::lock_guard<std::mutex> lock(mutex_);
        close(d.fd);
        d.fd = -1;
      }
    }
  }
}

}  // namespace ktr::test
