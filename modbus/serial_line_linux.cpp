#include "serial_line_linux.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>

namespace ktr::detail {
namespace {

std::uint8_t DataBitsOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

std::uint8_t ParityOf(tcflag_t cflag) {
  if ((cflag & PARENB) == 0) return 0;
  if ((cflag & CMSPAR) != 0) return (cflag & PARODD) != 0 ? 3 : 4;  // mark, space
  return (cflag & PARODD) != 0 ? 1 : 2;
}

}  // namespace

int ConfigureLine(int fd, const LineSettings& line, LineSettings* actual) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    return -1;
  }

  // Raw mode: the equivalent of cfmakeraw, plus no INPCK/ISTRIP so that a
  // byte with a parity error is still delivered as received, and no IGNPAR,
  // which would drop it.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST | ONLCR | OCRNL);
  tio.c_lflag &=
      ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);

  // The termios of a UART or USB adapter survives from the last program
  // that used it (the kernel keeps it per port). CMSPAR would turn even
  // parity into space parity, ADDRB (9-bit addressing, Linux 6.0) would take
  // the parity bit for an address bit, and HUPCL drops DTR and RTS at every
  // close: converters powered from those lines would lose power between two
  // access cycles.
  tio.c_cflag &=
      ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | CBAUD | CIBAUD);
#ifdef ADDRB
  tio.c_cflag &= ~static_cast<tcflag_t>(ADDRB);
#endif
  tio.c_cflag |= CLOCAL | CREAD;  // ignore modem lines: an RS485 adapter has none wired
  switch (line.dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  if (line.parity == 1) {
    tio.c_cflag |= PARENB | PARODD;
  } else if (line.parity == 2) {
    tio.c_cflag |= PARENB;
  }
  // With 5 data bits a UART sends one and a half stop bits for CSTOPB.
  if (line.stopBits != 0) {
    tio.c_cflag |= CSTOPB;
  }
  tio.c_cflag |= BOTHER;
  tio.c_ispeed = static_cast<speed_t>(line.baudRate);
  tio.c_ospeed = static_cast<speed_t>(line.baudRate);

  // Reads never block in the driver; the port code waits with poll.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;

  if (ioctl(fd, TCSETS2, &tio) != 0) {
    return -1;
  }
  // TCSETS2 succeeds even when the driver changed what it cannot do (a
  // UART without parity, an adapter without 5 data bits); only a read-back
  // shows it.
  struct termios2 got {};
  if (ioctl(fd, TCGETS2, &got) != 0) {
    return -1;
  }
  *actual = LineKept(got.c_cflag, got.c_ospeed, line, DriverOf(fd));
  return 0;
}

LineSettings LineKept(std::uint32_t cflag, std::uint32_t ospeed, const LineSettings& wanted,
                      const std::string& driver) {
  LineSettings kept = wanted;
  kept.dataBits = DataBitsOf(cflag);
  if (driver == "ftdi_sio" && kept.dataBits < 7) kept.dataBits = 8;
  kept.parity = ParityOf(cflag);
  kept.stopBits = (cflag & CSTOPB) == 0 ? 0 : kept.dataBits == 5 ? 1 : 2;
  kept.baudRate = static_cast<std::int32_t>(ospeed);
  return kept;
}

std::string DriverOf(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  const std::string link = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev)) + "/device/driver";
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  const std::string path(target, static_cast<std::size_t>(n));
  return path.substr(path.rfind('/') + 1);
}

void RequestLowLatency(int fd) {
  struct serial_struct serial {};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;  // ENOTTY: no such setting (pty, some USB)
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);  // EPERM/EINVAL: the driver keeps its own timing
}

int EnableRs485(int fd) {
  struct serial_rs485 rs485 {};
  if (ioctl(fd, TIOCGRS485, &rs485) != 0) return -1;
  rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  rs485.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
  return ioctl(fd, TIOCSRS485, &rs485);
}

DriverState QueryDriver(int fd) {
  DriverState state;
  struct serial_struct serial {};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) state.lowLatency = (serial.flags & ASYNC_LOW_LATENCY) != 0;
  struct serial_rs485 rs485 {};
  if (ioctl(fd, TIOCGRS485, &rs485) == 0) {
    state.rs485 = (rs485.flags & SER_RS485_ENABLED) != 0;
    state.rs485RtsOnSend = (rs485.flags & SER_RS485_RTS_ON_SEND) != 0;
    state.rs485RxDuringTx = (rs485.flags & SER_RS485_RX_DURING_TX) != 0;
  }
  return state;
}

bool ReadLineCounters(int fd, LineErrorCounts* counts) {
  struct serial_icounter_struct icount {};
  if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
  counts->frame = static_cast<std::uint32_t>(icount.frame);
  counts->parity = static_cast<std::uint32_t>(icount.parity);
  counts->overrun = static_cast<std::uint32_t>(icount.overrun + icount.buf_overrun);
  counts->brk = static_cast<std::uint32_t>(icount.brk);
  return true;
}

}  // namespace ktr::detail
