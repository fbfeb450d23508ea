#include "platform/socket.h"

#include <sys/socket.h>

namespace mendly::platform {

int openPrivateSocket(int family, int type, int protocol) { return ::socket(family, type | SOCK_CLOEXEC, protocol); }

}  // namespace mendly::platform
