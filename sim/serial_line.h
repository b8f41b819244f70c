// The line the simulated bus is served on: a pseudo-terminal whose slave
// side is reached through a symbolic link, a real serial port, or a TCP port
// that a configurator connects to as to an Ethernet gateway.
#pragma once

#include <memory>
#include <string>

namespace ktr_sim {

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  int release();

 private:
  int fd_ = -1;
};

struct LineSettings {
  unsigned baud = 19200;
  char parity = 'E';  // 'N', 'O' or 'E'
  int data_bits = 8;  // 5-8
  int stop_bits = 1;  // 1 or 2
};

class Line {
 public:
  virtual ~Line() = default;

  // The descriptor the simulator reads requests from and writes replies to.
  // It is non-blocking.
  virtual int fd() const = 0;

  // The text after "ready " on stdout once the simulator answers.
  virtual std::string ReadyText() const = 0;

  // Called after every request and every idle wait; see the pty.
  virtual void KeepOpenable() {}

  // A line that clients connect to (TCP) has a descriptor only while one
  // is connected: this waits up to 100 ms for one and says whether one is
  // there. Other lines are always there.
  virtual bool WaitForPeer() { return true; }
  // The client closed its connection (or broke it): the next one may come.
  virtual void PeerGone() {}
  // True for a line whose clients come and go (TCP).
  virtual bool Stream() const { return false; }
  // Requests and replies are Modbus TCP frames (MBAP header, no CRC)
  // instead of RTU frames.
  virtual bool ModbusTcp() const { return false; }
};

// Opens a pseudo-terminal, keeps its slave side open, sets it raw and
// points link at it (an existing symbolic link is replaced; any other file
// there is an error). The link is removed again when the line is destroyed.
// Throws std::system_error with the OS reason on failure.
std::unique_ptr<Line> OpenPty(const std::string& link);

// Opens a serial port for exclusive use and sets it raw with the settings.
// Throws std::system_error with the OS reason on failure.
std::unique_ptr<Line> OpenSerialPort(const std::string& path, const LineSettings& settings);

// Listens on "HOST:PORT" ("[IPv6]:PORT"; port 0 takes a free one, which
// ReadyText tells) and serves one client connection at a time, the others
// waiting in the backlog. ReadyText is the port name a configurator opens:
// "tcp://HOST:PORT" with modbusTcp, else "rtu+tcp://HOST:PORT" (RTU frames
// over the stream, as a transparent gateway carries them). Throws
// std::system_error with the OS reason, std::invalid_argument for a
// malformed address.
std::unique_ptr<Line> ListenTcp(const std::string& address, bool modbusTcp);
// Why ListenTcp would refuse `address` as malformed; empty when it is not.
std::string TcpAddressError(const std::string& address);

// Sets any baud rate, including rates without a B constant (14400), through
// the kernel's termios2 interface. Returns 0 or the errno value.
int SetBaudRate(int fd, unsigned baud);

}  // namespace ktr_sim
