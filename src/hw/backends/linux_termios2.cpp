// termios2 (BOTHER) speed access. <asm/termbits.h> redefines struct termios, so this file
// must not see <termios.h>; it declares ioctl itself instead of pulling in <sys/ioctl.h>
// (whose tty types clash with the kernel header on some C libraries).
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <errno.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace hw {

int GetTtySpeed(int fd, uint32_t& baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  baud = t.c_ospeed;
  return 0;
}

int SetTtyArbitrarySpeed(int fd, uint32_t baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ospeed = baud;
  t.c_ispeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

}  // namespace hw
