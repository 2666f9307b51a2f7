#include "hw/backends/linux_port_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

#include "hw/backends/device_paths.h"

namespace hw {

namespace {

struct TOpenPort {
  std::string name;
  std::string path;
  bool tty = false;
  bool shared = false;  // a dup of a file someone else in this program holds
};

std::mutex g_mutex;
std::map<int, TOpenPort> g_open;  // by descriptor

bool PathOpenLocked(const std::string& path) {
  for (const auto& [fd, p] : g_open)
    if (p.path == path) return true;
  return false;
}

void SetReason(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
}

std::string ErrnoText(int err) { return std::strerror(err); }

// The path of a known port name, or "" with the reason set.
std::string PathOrReason(const std::string& name, std::string* reason) {
  const std::string path = DevicePathOf(name);
  if (path.empty()) SetReason(reason, name + ": not a port name (LPT1..LPT4, COM1..COM4)");
  return path;
}

std::string OpenFailure(const std::string& path, int err) {
  std::string text = path + ": " + ErrnoText(err);
  if (err == EACCES) {
    text += path.find("parport") != std::string::npos
                ? " (membership of the group owning it, usually lp, grants access)"
                : " (membership of the group owning it, usually dialout, grants access)";
  } else if (err == EBUSY) {
    text = path + ": held by another program";
  }
  return text;
}

// Keeps descriptor 0 free for what it means to everyone else; ReadByteCom also treats
// handle 0 as "not open".
int AwayFromZero(int fd) {
  if (fd != 0) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

}  // namespace

int OpenPortDevice(const std::string& name, std::string* reason, bool listed) {
  const std::string path = PathOrReason(name, reason);
  if (path.empty()) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (PathOpenLocked(path)) {
    SetReason(reason, path + ": already open in this program");
    return -1;
  }
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetReason(reason, OpenFailure(path, errno));
    return -1;
  }
  fd = AwayFromZero(fd);
  if (fd < 0) {
    SetReason(reason, path + ": " + ErrnoText(errno));
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    SetReason(reason, path + ": held by another program");
    return -1;
  }
  // Any other flock failure means the file system has no locks; the table and TIOCEXCL
  // still keep this program's own opens apart.
  TOpenPort entry{name, path, isatty(fd) == 1, false};
  if (entry.tty) (void)ioctl(fd, TIOCEXCL);
  if (listed) g_open[fd] = entry;
  return fd;
}

void CloseUnlistedPortDevice(int fd) {
  if (fd < 0) return;
  if (isatty(fd) == 1) (void)ioctl(fd, TIOCNXCL);
  close(fd);
}

bool ListPortDevice(const std::string& name, int fd, std::string* reason) {
  const std::string path = PathOrReason(name, reason);
  if (path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (PathOpenLocked(path)) {
    SetReason(reason, path + ": already open in this program");
    return false;
  }
  g_open[fd] = TOpenPort{name, path, isatty(fd) == 1, false};
  return true;
}

int SharePortDevice(const std::string& name, int fd, std::string* reason) {
  const std::string path = PathOrReason(name, reason);
  if (path.empty()) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (PathOpenLocked(path)) {
    SetReason(reason, path + ": already open in this program");
    return -1;
  }
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) {
    SetReason(reason, path + ": " + ErrnoText(errno));
    return -1;
  }
  g_open[copy] = TOpenPort{name, path, isatty(copy) == 1, true};
  return copy;
}

bool ClosePortDevice(int fd) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto it = g_open.find(fd);
  if (it == g_open.end()) return false;
  // The lock and the exclusive mode go with the last descriptor of the open file; a
  // shared copy must leave both to the holder.
  if (it->second.tty && !it->second.shared) (void)ioctl(fd, TIOCNXCL);
  close(fd);
  g_open.erase(it);
  return true;
}

std::string PortNameOfDevice(int fd) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto it = g_open.find(fd);
  return it == g_open.end() ? std::string() : it->second.name;
}

bool IsPortDeviceOpen(const std::string& name) {
  const std::string path = DevicePathOf(name);
  if (path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  return PathOpenLocked(path);
}

namespace {

struct TSpeed {
  uint32_t baud;
  speed_t code;
};
constexpr TSpeed kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::string TtyName(int fd) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_open.find(fd);
    if (it != g_open.end()) path = it->second.path;
  }
  if (path.empty()) path = "descriptor " + std::to_string(fd);
  return path;
}

bool Fail(std::string* reason, int fd, const std::string& what) {
  SetReason(reason, TtyName(fd) + ": " + what);
  return false;
}

}  // namespace

uint32_t FormatCflag(const TCommState& state) {
  static constexpr tcflag_t kSize[] = {CS5, CS6, CS7, CS8};
  tcflag_t c = kSize[(state.ByteSize < 5 ? 5 : state.ByteSize > 8 ? 8 : state.ByteSize) - 5];
  switch (state.Parity) {
    case 1:
      c |= PARENB | PARODD;
      break;
    case 2:
      c |= PARENB;
      break;
    case 3:
      c |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      c |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (state.StopBits != 0) c |= CSTOPB;
  return c;
}

void FormatFromCflag(uint32_t cflag, TCommState& state) {
  switch (cflag & CSIZE) {
    case CS5:
      state.ByteSize = 5;
      break;
    case CS6:
      state.ByteSize = 6;
      break;
    case CS7:
      state.ByteSize = 7;
      break;
    default:
      state.ByteSize = 8;
      break;
  }
  if (!(cflag & PARENB))
    state.Parity = 0;
  else if (cflag & CMSPAR)
    state.Parity = (cflag & PARODD) ? 3 : 4;
  else
    state.Parity = (cflag & PARODD) ? 1 : 2;
  state.StopBits = !(cflag & CSTOPB) ? 0 : state.ByteSize == 5 ? 1 : 2;
}

bool GetTtyCommState(int fd, TCommState& state, std::string* reason) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return Fail(reason, fd, ErrnoText(errno));
  uint32_t baud = 0;
  if (GetTtySpeed(fd, baud) != 0 || baud == 0) {
    const speed_t code = cfgetospeed(&t);
    for (const auto& s : kSpeeds)
      if (s.code == code) baud = s.baud;
  }
  state.BaudRate = baud;
  FormatFromCflag(t.c_cflag, state);
  return true;
}

bool SetTtyCommState(int fd, const TCommState& state, std::string* reason) {
  if (state.BaudRate == 0) return Fail(reason, fd, "a baud rate of 0 is not allowed");
  if (state.ByteSize < 5 || state.ByteSize > 8)
    return Fail(reason, fd, "byte size " + std::to_string(state.ByteSize) + " is not 5..8");
  if (state.Parity > 4)
    return Fail(reason, fd, "parity code " + std::to_string(state.Parity) + " is not 0..4");
  if (state.StopBits > 2)
    return Fail(reason, fd, "stop-bit code " + std::to_string(state.StopBits) + " is not 0..2");
  // One and a half stop bits exist only with five data bits, two only without.
  if ((state.StopBits == 1 && state.ByteSize != 5) || (state.StopBits == 2 && state.ByteSize == 5))
    return Fail(reason, fd, "that stop-bit and byte-size combination does not exist");

  termios t{};
  if (tcgetattr(fd, &t) != 0) return Fail(reason, fd, ErrnoText(errno));
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cflag |= static_cast<tcflag_t>(FormatCflag(state));
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const TSpeed* standard = nullptr;
  for (const auto& s : kSpeeds)
    if (s.baud == state.BaudRate) standard = &s;
  if (standard) {
    cfsetispeed(&t, standard->code);
    cfsetospeed(&t, standard->code);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) return Fail(reason, fd, ErrnoText(errno));
  if (!standard) {
    if (const int err = SetTtyArbitrarySpeed(fd, state.BaudRate); err != 0)
      return Fail(reason, fd,
                  std::to_string(state.BaudRate) + " baud cannot be set: " + ErrnoText(err));
  }
  return true;
}

}  // namespace hw
