// vxtrace: the system side of a capture: listening on the debug output channel,
// Ctrl-C, and the console. CapturePosix.cpp serves POSIX (a Unix datagram socket),
// CaptureWin32.cpp serves Windows (the DBWIN shared buffer).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Message.h"

namespace vxtrace {

enum class WaitResult { Received, TimedOut, Failed };

// What a capture could not show, for the closing report.
struct CaptureLosses {
  long long dropped = 0;           // not kept while the output was blocked (where nothing holds back)
  long long otherUsers = 0;        // datagrams from another user, not shown
  long long ringLines = 0;         // messages that came through it
  long long ringDropped = 0;       // lines writers dropped while it was full
  long long ringHoles = 0;         // lines writers began and never finished (they died or stalled)
  long long ringDamages = 0;       // rings retired because a shared word was overwritten, and replaced
  long long ringLostToDamage = 0;  // lines (at least) lost with them
  std::string ringDamageCause;     // the last one's
  long long ringLostEarlier = 0;   // lines writers left in the ring of a listener that ended before
  long long viewSkipped = 0;       // lines the live view skipped while the terminal was behind
};

// One sentence per loss the capture counted, each with its cause; nothing when none.
std::vector<std::string> LossSentences(const CaptureLosses& losses);

// Messages waiting for the display are held up to this many bytes (text plus
// kQueuedMessageOverhead each); beyond it the channel holds new ones back.
constexpr std::size_t kQueueLimitBytes = 32u << 20;
constexpr std::size_t kQueuedMessageOverhead = 128;

class Listener {
 public:
  virtual ~Listener() = default;
  // Waits at most timeoutMs for the next message.
  virtual WaitResult Wait(Message& message, int timeoutMs) = 0;
  // Replaces batch with the messages that are there (at least one), waiting at most
  // timeoutMs for the first; what batch held may be reused for later messages.
  virtual WaitResult WaitBatch(std::vector<Message>& batch, int timeoutMs) {
    batch.resize(1);
    const WaitResult result = Wait(batch.front(), timeoutMs);
    if (result != WaitResult::Received) batch.clear();
    return result;
  }
  // Where it listens, for the start-up notice.
  virtual std::string Describe() const = 0;
  // Why the last Wait failed.
  virtual std::string LastError() const = 0;
  virtual CaptureLosses Losses() const = 0;
};

// Exit codes shared with the command line.
constexpr int kExitFailure = 1;
constexpr int kExitBusy = 3;

struct OpenFailure {
  int exitCode = kExitFailure;
  std::string message;
};

struct ListenOptions {
  std::string socketPath;  // POSIX; "" = the default path. Must be "" on Windows.
  bool anyUser = false;    // POSIX: also show datagrams of other users
  bool ring = false;       // also offer the shared-memory trace ring
};

// Takes over the channel. Returns null and fills failure when it cannot.
std::unique_ptr<Listener> OpenListener(const ListenOptions& options, OpenFailure& failure);

// The path the component writes to when the environment names none ("" on Windows,
// and in a build without the library).
std::string DefaultSocketPath();

// Ctrl-C (and SIGTERM) set a flag instead of killing the process.
void InstallInterruptHandler();
bool Interrupted();

// Prepares standard output for UTF-8; true when it is a terminal that shows colours.
bool PrepareConsole();

// Files vxtrace creates (recordings, pictures) are for its user alone: traces tell
// a lot about a program and its data. No-op on Windows.
void KeepFilesPrivate();

// Seconds since the Unix epoch, as a message's arrival time.
double WallClockSeconds();

}  // namespace vxtrace
