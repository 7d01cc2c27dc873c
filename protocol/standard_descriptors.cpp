#include "protocol/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

namespace pendrel {

void reopen_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
}

}  // namespace pendrel
