// One descriptor handed over a Unix socket, with one byte of data to carry it.
#pragma once

#include "platform/posix/Owned.h"

namespace vx380::posix {

// Sends `fd` on the connected `socket` without waiting; false when it did not go.
bool SendDescriptor(int socket, int fd);

// The descriptor waiting on `socket` (closed on exec), or none when what waits is anything
// else. `flags` are recvmsg's (MSG_DONTWAIT, say).
UniqueFd ReceiveDescriptor(int socket, int flags = 0);

}  // namespace vx380::posix
