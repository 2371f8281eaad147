// DebugTrace and LogMsg: the debugger output channel and the message log.
#include <atomic>
#include <mutex>
#include <set>
#include <typeinfo>

#include "core/DebugOutput.h"

#include "core/AsciiText.h"
#include "core/CurrentPlatform.h"
#include "core/ModuleState.h"
#include "core/RegistryLookup.h"
#include "core/TextFile.h"
#include "core/TextFormat.h"
#include "core/ThreadContext.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

namespace {
// Message logs this process has started. A later thread of the same process adds its banner
// instead of emptying the file again, so it does not wipe what another thread wrote.
class StartedMessageLogs {
 public:
  // True when this call is the process's first start of `path`.
  bool FirstStart(const String& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_.insert(path).second;
  }
  void Forget(const String& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    started_.erase(path);
  }

 private:
  std::mutex mutex_;
  std::set<String> started_;
};

StartedMessageLogs& MessageLogs() {
  static StartedMessageLogs logs;
  return logs;
}
}  // namespace

namespace core {

namespace {
// What a thread found, for the threads after it: the question costs a conversion of 128
// characters, and a thread often traces only a few lines. A sequence lock no one waits on:
// a reader that meets a write, and a writer that meets another (or one a fork cut short),
// simply asks the platform itself.
class AsciiAnswers {
 public:
  bool Find(const Platform& platform, std::uint64_t installation, bool& kept) const {
    const std::uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1) return false;
    const bool found = platform_.load(std::memory_order_relaxed) == &platform &&
                       installation_.load(std::memory_order_relaxed) == installation;
    kept = kept_.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    return found && sequence_.load(std::memory_order_relaxed) == before;
  }
  void Keep(const Platform& platform, std::uint64_t installation, bool kept) {
    std::uint32_t even = sequence_.load(std::memory_order_relaxed);
    if ((even & 1) || !sequence_.compare_exchange_strong(even, even + 1, std::memory_order_acquire)) return;
    std::atomic_thread_fence(std::memory_order_release);
    platform_.store(&platform, std::memory_order_relaxed);
    installation_.store(installation, std::memory_order_relaxed);
    kept_.store(kept, std::memory_order_relaxed);
    sequence_.store(even + 2, std::memory_order_release);
  }

 private:
  std::atomic<std::uint32_t> sequence_{0};
  std::atomic<const Platform*> platform_{nullptr};
  std::atomic<std::uint64_t> installation_{0};
  std::atomic<bool> kept_{false};
};
AsciiAnswers g_asciiAnswers;

bool KeepsAscii(Platform& platform) {
  String ascii(0x80, u'\0');
  std::string bytes(0x80, '\0');
  for (int c = 0; c < 0x80; ++c) ascii[c] = static_cast<char16_t>(c), bytes[c] = static_cast<char>(c);
  return platform.ToAnsi(ascii) == bytes;
}
}  // namespace

// The caller took `platform` before this looks at the installation, so the answer is kept for
// both: a platform installed in between is asked again at the next line.
bool AsciiKept(Platform& platform) noexcept { return AsciiKept(platform, ThisThread()); }

namespace {
// The answer the thread does not have yet: kept apart so that the usual look stays small.
[[gnu::noinline]] bool AskAsciiKept(Platform& platform, ThreadContext& thread, std::uint64_t installation) noexcept {
  try {
    bool kept = false;
    if (!g_asciiAnswers.Find(platform, installation, kept)) {
      kept = KeepsAscii(platform);
      g_asciiAnswers.Keep(platform, installation, kept);
    }
    thread.asciiKept = kept;
    thread.asciiPlatform = &platform;
    thread.asciiInstallation = installation;
    return kept;
  } catch (...) {
    return false;  // a conversion that fails is left to the converted path, which expects it
  }
}
}  // namespace

bool AsciiKept(Platform& platform, ThreadContext& thread) noexcept {
  const std::uint64_t installation = PlatformInstallation();
  if (thread.asciiInstallation == installation && thread.asciiPlatform == &platform) return thread.asciiKept;
  return AskAsciiKept(platform, thread, installation);
}

bool DirectDebugLines(const ErrorLog& log) { return typeid(log) == typeid(ErrorLog) && AsciiKept(CurrentPlatform()); }

// While a line is being built in the thread's buffer, a nested line brings its own.
DebugLineBuffer::DebugLineBuffer() : DebugLineBuffer(ThisThread()) {}
DebugLineBuffer::DebugLineBuffer(ThreadContext& thread) : bytes_(&own_) {
  if (!thread.lineBusy) {
    thread.lineBusy = true;
    busy_ = &thread.lineBusy;
    bytes_ = &thread.lineBytes;
    bytes_->clear();
  }
}
DebugLineBuffer::~DebugLineBuffer() {
  if (busy_) *busy_ = false;
}

void DebugLineBuffer::AppendAscii(std::u16string_view text) { AppendIfAscii(text); }

bool DebugLineBuffer::AppendIfAscii(std::u16string_view text) {
  const size_t count = text.size(), at = bytes_->size();
  bytes_->resize(at + count);
  if (NarrowWhileAscii(text.data(), count, bytes_->data() + at) == count) return true;
  bytes_->resize(at);
  return false;
}

// A piece at a time through the stack, so that the NUL is found as the units are narrowed and
// the line's bytes are never first filled with zeros.
bool DebugLineBuffer::AppendTerminatedIfAscii(const char16_t* text) {
  constexpr size_t kPiece = 256;
  const size_t at = bytes_->size();
  char piece[kPiece];
  for (bool ended = false; !ended; text += kPiece) {
    const size_t count = NarrowTerminatedWhileAscii(text, kPiece, piece, ended);
    if (!ended && count < kPiece) {
      bytes_->resize(at);
      return false;
    }
    bytes_->append(piece, count);
  }
  return true;
}

void DebugLineBuffer::Write(Platform& platform) noexcept {
  try {
    *bytes_ += '\n';
    platform.WriteDebugLine(*bytes_);
  } catch (...) {
    // The debugger line is best effort by design: it never fails its caller.
  }
}

void TraceText(std::u16string_view text) noexcept {
  if (DebugOutputHeard()) TraceHeardText(text);
}

namespace {
void WriteConverted(Platform& p, std::u16string_view text) {
  std::string line = p.ToAnsi(String(text));
  line += '\n';
  p.WriteDebugLine(line);
}

constexpr size_t kStackLine = 256;  // units of a line built on the stack

enum class StackLine { kSent, kTooLong, kNotAscii };

// The system's own channel takes a line that is not a string: a line that fits goes to it from
// the stack, without the thread's buffer or a virtual call.
StackLine SendFromStack(std::u16string_view text) {
  if (text.size() > kStackLine) return StackLine::kTooLong;
  char line[kStackLine + 1];  // and its end
  if (NarrowWhileAscii(text.data(), text.size(), line) != text.size()) return StackLine::kNotAscii;
  line[text.size()] = '\n';
  SystemWriteDebugLine(std::string_view(line, text.size() + 1));
  return StackLine::kSent;
}

StackLine SendFromStack(const char16_t* text) {
  char line[kStackLine + 1];
  bool ended = false;
  size_t count = NarrowTerminatedWhileAscii(text, kStackLine, line, ended);
  if (!ended) return count < kStackLine ? StackLine::kNotAscii : StackLine::kTooLong;
  line[count++] = '\n';
  SystemWriteDebugLine(std::string_view(line, count));
  return StackLine::kSent;
}

bool AppendIfAscii(DebugLineBuffer& line, std::u16string_view text) { return line.AppendIfAscii(text); }
bool AppendIfAscii(DebugLineBuffer& line, const char16_t* text) { return line.AppendTerminatedIfAscii(text); }
std::u16string_view Whole(std::u16string_view text) { return text; }
std::u16string_view Whole(const char16_t* text) { return std::u16string_view(text, TextLength(text)); }

// A line of ASCII text goes out as its bytes: from the stack to the system's channel, else
// through the thread's buffer; any other text through the platform's code page.
template <typename Text>
void TraceHeard(Text text) noexcept {
  try {
    Platform* installed = g_installedPlatform.load(std::memory_order_acquire);
    Platform& p = installed ? *installed : SystemPlatform();
    ThreadContext& thread = ThisThread();
    if (AsciiKept(p, thread)) {
      const StackLine sent = installed ? StackLine::kTooLong : SendFromStack(text);
      if (sent == StackLine::kSent) return;
      DebugLineBuffer line(thread);
      if (sent == StackLine::kTooLong && AppendIfAscii(line, text)) {
        line.Write(p);
        return;
      }
    }
    WriteConverted(p, Whole(text));
  } catch (...) {
    // The debugger line is best effort by design: it never fails its caller.
  }
}
}  // namespace

void TraceHeardText(std::u16string_view text) noexcept { TraceHeard(text); }
void TraceHeardTerminated(const char16_t* text) noexcept { TraceHeard(text); }

}  // namespace core

void ErrorLog::DebugTrace(String strMsg) { core::TraceText(strMsg); }

namespace {
// Exactly an ErrorLog, told by its type's identity: an object whose type compares equal only by
// name (a second copy of the library) takes the overridable way, which does the same.
bool PlainErrorLog(const ErrorLog& log) { return &typeid(log) == &typeid(ErrorLog); }

[[gnu::noinline]] void TraceLiteral(ErrorLog& log, const char16_t* text) {
  if (!PlainErrorLog(log)) return log.DebugTrace(String(text ? text : u""));
  if (text) return core::TraceHeardTerminated(text);
  core::TraceHeardText(std::u16string_view());
}
}  // namespace

// At a cache line's start, as the system's check it calls (see SystemDebugOutputQuiet).
[[gnu::aligned(64)]] void ErrorLog::DebugTrace(const char16_t* strMsg) {
  // Nobody hears: not even the text's length is worth finding. An override still gets it.
  if (!core::DebugOutputHeard() && PlainErrorLog(*this)) return;
  TraceLiteral(*this, strMsg);
}

void ErrorLog::LogMsg(String strMessageText) {
  ModuleState& st = ThisThreadState();
  Platform& p = CurrentPlatform();
  if (!st.bMsgLogChecked) {
    String level;
    if (core::LookUpSwitch(*this, kHKeyLocalMachine, u"SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel", level) &&
        level == u"1")
      st.bMsgLogEnabled = kTrue;
    if (st.bMsgLogEnabled) {
      String temp;
      if (!p.GetEnvironment(u"TEMP", temp)) temp.clear();
      st.strMsgLogPath = temp + u"\\Corvane.Log";
      const bool first = MessageLogs().FirstStart(st.strMsgLogPath);
      try {
        core::TextFile log(st.strMsgLogPath, first);
        log.Write(core::BannerText());
      } catch (...) {
        if (first) MessageLogs().Forget(st.strMsgLogPath);
        throw;
      }
      st.bMsgLogChecked = kTrue;
    }
  }
  if (st.bMsgLogEnabled) {
    core::TextFile log(st.strMsgLogPath, false);
    log.Write(strMessageText + core::kCrLf);
  }
}

}  // namespace vx380
