#include "platform/socket_queue.h"

#include <sys/ioctl.h>

namespace qb {

int UnreadBytes(int socket) {
  int unread = 0;
  if (::ioctl(socket, FIONREAD, &unread) != 0) return 0;
  return unread;
}

}  // namespace qb
