// DebugTrace and LogMsg: the debugger output channel and the message log.
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

// The caller took `platform` before this looks at the installation, so the answer is kept for
// both: a platform installed in between is asked again at the next line.
bool AsciiKept(Platform& platform) noexcept {
  ThreadContext& thread = ThisThread();
  const std::uint64_t installation = PlatformInstallation();
  if (thread.asciiInstallation == installation && thread.asciiPlatform == &platform) return thread.asciiKept;
  try {
    String ascii(0x80, u'\0');
    std::string bytes(0x80, '\0');
    for (int c = 0; c < 0x80; ++c) ascii[c] = static_cast<char16_t>(c), bytes[c] = static_cast<char>(c);
    const bool kept = platform.ToAnsi(ascii) == bytes;
    thread.asciiKept = kept;
    thread.asciiPlatform = &platform;
    thread.asciiInstallation = installation;
    return kept;
  } catch (...) {
    return false;  // a conversion that fails is left to the converted path, which expects it
  }
}

bool DirectDebugLines(const ErrorLog& log) { return typeid(log) == typeid(ErrorLog) && AsciiKept(CurrentPlatform()); }

// While a line is being built in the thread's buffer, a nested line brings its own.
DebugLineBuffer::DebugLineBuffer() : bytes_(&own_) {
  ThreadContext& thread = ThisThread();
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

void TraceHeardText(std::u16string_view text) noexcept {
  try {
    Platform& p = CurrentPlatform();
    if (AsciiKept(p)) {
      DebugLineBuffer line;
      if (line.AppendIfAscii(text)) {
        line.Write(p);
        return;
      }
    }
    std::string line = p.ToAnsi(String(text));
    line += '\n';
    p.WriteDebugLine(line);
  } catch (...) {
    // The debugger line is best effort by design: it never fails its caller.
  }
}

}  // namespace core

void ErrorLog::DebugTrace(String strMsg) { core::TraceText(strMsg); }

namespace {
// Exactly an ErrorLog, told by its type's identity: an object whose type compares equal only by
// name (a second copy of the library) takes the overridable way, which does the same.
bool PlainErrorLog(const ErrorLog& log) { return &typeid(log) == &typeid(ErrorLog); }

[[gnu::noinline]] void TraceLiteral(ErrorLog& log, const char16_t* text) {
  if (!PlainErrorLog(log)) return log.DebugTrace(String(text ? text : u""));
  core::TraceHeardText(text ? std::u16string_view(text, core::TextLength(text)) : std::u16string_view());
}
}  // namespace

void ErrorLog::DebugTrace(const char16_t* strMsg) {
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
