#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "serial_line.h"

namespace ktr_sim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetNonBlockingCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
    ThrowErrno("cannot set up the pseudo-terminal");
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) ThrowErrno("cannot set up the pseudo-terminal");
}

std::string ReadLink(const std::string& link) {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
  if (n < 0) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

class PtyLine final : public Line {
 public:
  explicit PtyLine(const std::string& link) : link_(link) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) < 0) ThrowErrno("cannot open a pseudo-terminal");
    master_ = UniqueFd(master);
    slave_ = UniqueFd(slave);
    SetNonBlockingCloseOnExec(master);
    if (fcntl(slave, F_SETFD, FD_CLOEXEC) < 0) ThrowErrno("cannot set up the pseudo-terminal");

    char name[256] = {};
    if (ttyname_r(slave, name, sizeof name) != 0) ThrowErrno("cannot name the pseudo-terminal");
    slave_path_ = name;

    // Raw slave side: without this the line discipline would echo our
    // replies back to us (ECHO), turn CR into LF (ICRNL) and hold bytes
    // until a newline (ICANON).
    termios t{};
    if (tcgetattr(slave, &t) < 0) ThrowErrno("cannot read the pseudo-terminal settings");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(slave, TCSANOW, &t) < 0) ThrowErrno("cannot set the pseudo-terminal raw");

    PlaceLink();
  }

  ~PtyLine() override {
    // Remove the link only while it still points at our terminal: a newer
    // simulator may have taken the name over.
    if (linked_ && ReadLink(link_) == slave_path_) unlink(link_.c_str());
  }

  int fd() const override { return master_.get(); }

  std::string ReadyText() const override { return link_ + " -> " + slave_path_; }

  // The kernel keeps a tty's exclusive flag (TIOCEXCL, which a serial
  // client may set to keep other programs off its port) until the tty's
  // last close. We hold the slave open, so the flag would outlive the
  // client's close and make its next open fail with EBUSY. Clear it through
  // our own slave descriptor after each request and idle wait.
  void KeepOpenable() override { ioctl(slave_.get(), TIOCNXCL); }

 private:
  // Points link_ at the slave through a temporary link and rename(), so the
  // name never dangles and a stale link is replaced in one step.
  void PlaceLink() {
    struct stat st {};
    if (lstat(link_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      throw std::system_error(
          std::make_error_code(std::errc::file_exists),
          "cannot create link " + link_ + ": a file that is no symbolic link is in the way");
    }
    const std::string temporary = link_ + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(slave_path_.c_str(), temporary.c_str()) < 0) ThrowErrno("cannot create link " + link_);
    if (rename(temporary.c_str(), link_.c_str()) < 0) {
      const int saved = errno;
      unlink(temporary.c_str());
      errno = saved;
      ThrowErrno("cannot create link " + link_);
    }
    linked_ = true;
  }

  std::string link_;
  std::string slave_path_;
  UniqueFd master_;
  UniqueFd slave_;  // held open so the other side's closes never hang up the pty
  bool linked_ = false;
};

}  // namespace

std::unique_ptr<Line> OpenPty(const std::string& link) { return std::make_unique<PtyLine>(link); }

}  // namespace ktr_sim
