#include "serial_line_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ktr::detail {

int ConfigureLine(int fd, const LineSettings& line) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    return -1;
  }

  // Raw mode: the equivalent of cfmakeraw, plus no INPCK/ISTRIP so that a
  // byte with a parity error is still delivered as received.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);

  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
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
  return 0;
}

}  // namespace ktr::detail
