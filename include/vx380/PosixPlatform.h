// What the POSIX platform offers hosts and tools beyond the platform seam: their own message
// boxes, and where the debug output channel and the settings files are.
#pragma once

#include <functional>
#include <string>

#include "vx380/Automation.h"
#include "vx380/Export.h"

namespace vx380::posix {

// Answers a message box with the button pressed (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore,
// 6 Yes, 7 No). The style is passed unchanged; the title as the caller gave it, "" included.
using MessageBoxHandler = std::function<Long(const String& prompt, Long style, const String& title)>;

// Installs the handler that answers every message box of the process, from any thread; an
// empty one restores the default: ask on the controlling terminal when stdin is one and the
// process is in the foreground, else write the box to standard error and answer with its
// default button (VX380_MSGBOX=stderr forces the latter). Returns the handler it replaces.
VX380_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The Unix datagram socket that debug output goes to: $VX380_DEBUG_SOCKET, else
// $XDG_RUNTIME_DIR/vx380-debug.sock, else vx380-debug.sock in PrivateRuntimeDir(); "" when
// there is none. A capture tool binds it; each datagram is one line of output, ANSI text.
// The library sends only to a socket there that its own user owns.
VX380_API std::string DebugSocketPath();

// A directory that only the user can change, for what must not sit in a folder every user can
// write: $XDG_RUNTIME_DIR when set, else <temporary folder>/vx380-<uid> ($TMPDIR, else /tmp),
// made with mode 0700 when missing. It is checked (not a symbolic link, a directory, owned by
// the user, not writable by group or others); false when that fails, with the reason in `why`.
// An empty variable counts as unset.
VX380_API bool PrivateRuntimeDir(std::string& dir, std::string& why);

// The .reg file that holds a root's settings: for 0x80000001 (current user) $VX380_HKCU, else
// $XDG_CONFIG_HOME/vx380/user.reg, else ~/.config/vx380/user.reg; for 0x80000002 (local
// machine) $VX380_HKLM, else /etc/vx380/machine.reg. "" for any other root.
VX380_API std::string SettingsFilePath(Long root);

}  // namespace vx380::posix
