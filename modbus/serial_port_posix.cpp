// POSIX serial port: open(2) + termios, exclusive use through TIOCEXCL and
// flock, time-outs with poll(2) against a deadline.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial_line_linux.h"
#include "serial_port.h"
#include "serial_port_text.h"

namespace ktr {
namespace {

using Clock = std::chrono::steady_clock;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Milliseconds left until the deadline, 0 when it has passed.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

SerialErrorKind KindOfErrno(int code) {
  switch (code) {
    case 0: return SerialErrorKind::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return SerialErrorKind::NotFound;
    case EACCES:
    case EPERM: return SerialErrorKind::Permission;
    case EBUSY:
    case EWOULDBLOCK: return SerialErrorKind::Busy;
    case EINVAL:
    case ENOTTY: return SerialErrorKind::BadSettings;
    case ETIMEDOUT: return SerialErrorKind::Timeout;
    case EIO:
    case EPIPE: return SerialErrorKind::Io;
    case EBADF: return SerialErrorKind::NotOpen;
    default: return SerialErrorKind::Other;
  }
}

// The settings that a serial driver accepts, as SetCommState judges them:
// 5 to 8 data bits, parity none/odd/even, one or two stop bits, and one and a
// half stop bits only with 5 data bits (two only with 6 to 8).
bool ValidLine(const LineSettings& line) {
  if (line.baudRate <= 0 || line.dataBits < 5 || line.dataBits > 8 || line.parity > 2 || line.stopBits > 2) {
    return false;
  }
  if (line.stopBits == 1 && line.dataBits != 5) return false;
  if (line.stopBits == 2 && line.dataBits == 5) return false;
  return true;
}

// A pseudo-terminal slave (Unix98 majors 136-143, legacy BSD major 3). A
// pty takes any termios call and then reports CS8 without parity whatever
// was asked, so its read-back says nothing about the line.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

std::string SerialPort::DevicePath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  return "/dev/" + name;
}

int SerialPort::LastOsError() { return errno; }

SerialErrorKind SerialPort::KindOf(int code) const { return KindOfErrno(code); }

void SerialPort::SetError(SerialErrorKind kind, const char* call, int code) {
  error_.osCode = code;
  error_.kind = kind;
  error_.message = std::string(call) + ": " + (code != 0 ? std::strerror(code) : "failed");
}

int SerialPort::Open(const std::string& name, const LineSettings& line) {
  Close();
  error_ = {};
  timeoutMs_ = line.timeoutMs;
  if (name.empty()) {
    error_ = {SerialErrorKind::NotFound, 0, "open: no port name given"};
    return kCannotOpen;
  }

  const std::string path = DevicePath(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(("open " + path).c_str());
    return kCannotOpen;
  }
  handle_ = fd;

  // No sharing: TIOCEXCL refuses later opens of the tty (except by root), and
  // the flock makes any other program that locks serial ports (and a second
  // open of ours, root or not) fail while we hold it.
  if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
    SetError("ioctl TIOCEXCL");
    Close();
    return kCannotOpen;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    SetError(SerialErrorKind::Busy, ("flock " + path).c_str(), code == EWOULDBLOCK ? EBUSY : code);
    Close();
    return kCannotOpen;
  }

  if (!ValidLine(line)) {
    SetError("line settings", EINVAL);
    Close();
    return kFailed;
  }
  LineSettings actual;
  if (detail::ConfigureLine(fd, line, &actual) != 0) {
    SetError(SerialErrorKind::BadSettings, "ioctl TCSETS2");
    Close();
    return kFailed;
  }
  if (const std::string mismatch = LineMismatch(line, actual); !mismatch.empty() && !IsPseudoTerminal(fd)) {
    error_ = {SerialErrorKind::BadSettings, EINVAL, "line settings " + path + ": the UART " + mismatch};
    Close();
    return kFailed;
  }
  detail::RequestLowLatency(fd);
  if (line.rs485 && detail::EnableRs485(fd) != 0) {
    SetError(SerialErrorKind::BadSettings, "RS-485 mode (ioctl TIOCSRS485)");
    error_.message += " (the driver has no RS-485 direction control; USB adapters switch by themselves)";
    Close();
    return kFailed;
  }
  return kOk;
}

void SerialPort::Close() {
  countsAtWrite_.reset();
  if (handle_ != kInvalidHandle) {
    // TIOCEXCL stays on the tty until its last close; another process (the
    // device side of a pseudo-terminal, say) may keep it open, so clear it.
    ioctl(Fd(handle_), TIOCNXCL);
    ::close(Fd(handle_));  // drops the flock
    handle_ = kInvalidHandle;
  }
}

bool SerialPort::Write(const std::uint8_t* data, std::size_t length) {
  if (!IsOpen()) {
    SetError("write", EBADF);
    return false;
  }
  LineErrorCounts counts;
  countsAtWrite_.reset();
  if (ReadLineErrors(&counts)) countsAtWrite_ = counts;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  std::size_t done = 0;
  const TraceOnReturn trace{*this, true, data, done};
  while (done < length) {
    const ssize_t n = ::write(Fd(handle_), data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      // EIO: the tty was hung up (a pty whose master closed, a USB adapter
      // pulled out); ENODEV, ENXIO: its device is gone.
      const bool gone = errno == EIO || errno == ENODEV || errno == ENXIO;
      SetError(gone ? SerialErrorKind::Disconnected : KindOf(errno), "write");
      return false;
    }
    // Output queue full: wait for room, but not past the time-out.
    const int left = MillisecondsLeft(deadline);
    if (left == 0) {
      SetError("write", ETIMEDOUT);
      return false;
    }
    pollfd p{Fd(handle_), POLLOUT, 0};
    if (::poll(&p, 1, left) < 0 && errno != EINTR) {
      SetError("poll");
      return false;
    }
  }
  return true;
}

bool SerialPort::Read(std::uint8_t* dest, std::size_t length, std::size_t* received, FrameComplete complete) {
  *received = 0;
  if (!IsOpen()) {
    SetError("read", EBADF);
    return false;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  std::size_t got = 0;
  const TraceOnReturn trace{*this, false, dest, got};
  while (got < length) {
    std::size_t n = 0;
    if (!ReadAvailable(dest + got, length - got, &n, deadline)) return false;
    if (n == 0) {  // the deadline has passed
      SetError("read", ETIMEDOUT);
      return true;
    }
    got += n;
    *received = got;
    if (complete != nullptr && got < length && complete(dest, got)) break;
  }
  return true;
}

bool SerialPort::ReadAvailable(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                               Clock::time_point deadline) {
  *received = 0;
  if (!IsOpen()) {
    SetError("read", EBADF);
    return false;
  }
  int emptyAfterReadable = 0;
  for (;;) {
    // Wait first: right after a request nothing has arrived yet, so a read
    // before the poll would only cost a system call.
    const int left = MillisecondsLeft(deadline);
    pollfd p{Fd(handle_), POLLIN, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0) {
      if (errno == EINTR) continue;
      SetError("poll");
      return false;
    }
    if (r == 0) {
      if (left > 0) continue;  // woken early
      return true;
    }
    const ssize_t n = ::read(Fd(handle_), dest, capacity);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      // EIO: the other end is gone (a pty whose master closed, a USB adapter
      // pulled out).
      SetError(SerialErrorKind::Disconnected, "read");
      return false;
    }
    // Readable but nothing read. In raw mode with VMIN = VTIME = 0 a read of
    // a hung-up tty returns 0 and poll keeps reporting it readable (with
    // POLLHUP); waiting on would only spin until the deadline.
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 || ++emptyAfterReadable >= 3) {
      SetError(SerialErrorKind::Disconnected, "read", EIO);
      return false;
    }
  }
}

void SerialPort::DiscardInput() {
  if (IsOpen()) {
    ::tcflush(Fd(handle_), TCIFLUSH);
  }
}

bool SerialPort::ReadLineErrors(LineErrorCounts* counts) {
  return IsOpen() && detail::ReadLineCounters(Fd(handle_), counts);
}

std::optional<LineErrorCounts> SerialPort::LineErrorsSinceWrite() {
  LineErrorCounts now;
  if (!countsAtWrite_ || !ReadLineErrors(&now)) return std::nullopt;
  return CountsMoved(*countsAtWrite_, now);
}

DriverState SerialPort::QueryDriverState() const {
  return IsOpen() ? detail::QueryDriver(Fd(handle_)) : DriverState{};
}

}  // namespace ktr
