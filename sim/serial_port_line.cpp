#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "serial_line.h"

namespace ktr_sim {
namespace {

tcflag_t CharacterSize(int data_bits) {
  switch (data_bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

class SerialPortLine final : public Line {
 public:
  SerialPortLine(const std::string& path, const LineSettings& s) : path_(path) {
    fd_ = UniqueFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd_.get() < 0) Fail("cannot open " + path);
    const int fd = fd_.get();
    // Exclusive use, so a second simulator or a terminal program cannot
    // share the port unnoticed.
    if (ioctl(fd, TIOCEXCL) < 0) Fail("cannot get exclusive use of " + path);

    termios t{};
    if (tcgetattr(fd, &t) < 0) Fail("cannot read the settings of " + path);
    cfmakeraw(&t);
    // CLOCAL: ignore modem lines, an RS485 adapter has no carrier detect.
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CharacterSize(s.data_bits);
    if (s.parity != 'N') t.c_cflag |= PARENB;
    if (s.parity == 'O') t.c_cflag |= PARODD;
    if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (tcsetattr(fd, TCSANOW, &t) < 0) Fail("cannot set up " + path);
    if (const int err = SetBaudRate(fd, s.baud); err != 0) {
      errno = err;
      Fail("cannot set " + std::to_string(s.baud) + " baud on " + path);
    }
    tcflush(fd, TCIOFLUSH);
  }

  ~SerialPortLine() override {
    if (fd_.get() >= 0) ioctl(fd_.get(), TIOCNXCL);
  }

  int fd() const override { return fd_.get(); }
  std::string ReadyText() const override { return path_; }

 private:
  [[noreturn]] static void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
  }

  std::string path_;
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<Line> OpenSerialPort(const std::string& path, const LineSettings& settings) {
  return std::make_unique<SerialPortLine>(path, settings);
}

}  // namespace ktr_sim
