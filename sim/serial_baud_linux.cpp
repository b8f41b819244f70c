// Baud rates through termios2 (TCGETS2/TCSETS2 with BOTHER). The kernel's
// <asm/termbits.h> clashes with glibc's <termios.h>, so this is the only
// file that includes it.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "serial_line.h"

namespace ktr_sim {

int SetBaudRate(int fd, unsigned baud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) < 0) return errno;
  // Output and input speed both from c_ospeed/c_ispeed.
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) < 0) return errno;
  return 0;
}

}  // namespace ktr_sim
