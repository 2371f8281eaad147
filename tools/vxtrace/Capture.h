// vxtrace: the system side of a capture: listening on the debug output channel,
// Ctrl-C, and the console. CapturePosix.cpp serves POSIX (a Unix datagram socket),
// CaptureWin32.cpp serves Windows (the DBWIN shared buffer).
#pragma once

#include <memory>
#include <string>

namespace vxtrace {

struct Message {
  std::string text;          // as sent: one line, usually with its LF
  unsigned long source = 0;  // the writer's process id, 0 when the channel does not tell
};

enum class WaitResult { Received, TimedOut, Failed };

class Listener {
 public:
  virtual ~Listener() = default;
  // Waits at most timeoutMs for the next message.
  virtual WaitResult Wait(Message& message, int timeoutMs) = 0;
  // Where it listens, for the start-up notice.
  virtual std::string Describe() const = 0;
  // Why the last Wait failed.
  virtual std::string LastError() const = 0;
};

// Exit codes shared with the command line.
constexpr int kExitFailure = 1;
constexpr int kExitBusy = 3;

struct OpenFailure {
  int exitCode = kExitFailure;
  std::string message;
};

// Takes over the channel. socketPath is for POSIX ("" = the default path); on
// Windows it must be "". Returns null and fills failure when it cannot.
std::unique_ptr<Listener> OpenListener(const std::string& socketPath, OpenFailure& failure);

// The path the component writes to when the environment names none ("" on Windows).
std::string DefaultSocketPath();

// Ctrl-C (and SIGTERM) set a flag instead of killing the process.
void InstallInterruptHandler();
bool Interrupted();

// Prepares standard output for UTF-8; true when it is a terminal that shows colours.
bool PrepareConsole();

}  // namespace vxtrace
