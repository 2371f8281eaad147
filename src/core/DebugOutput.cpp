// DebugTrace and LogMsg: the debugger output channel and the message log.
#include <mutex>
#include <set>

#include "core/Internal.h"
#include "core/TextFile.h"
#include "vx380/ErrorLog.h"
#include "core/ModuleState.h"

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

void ErrorLog::DebugTrace(String strMsg) {
  try {
    Platform& p = CurrentPlatform();
    std::string line = p.ToAnsi(strMsg);
    line += '\n';
    p.WriteDebugLine(line);
  } catch (...) {
    // The debugger line is best effort by design: it never fails its caller.
  }
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
