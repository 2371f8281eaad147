// The per-thread record shared by every ErrorLog object of a thread.
#pragma once

#include <optional>
#include <vector>

#include "vx380/Automation.h"
#include "vx380/Platform.h"

namespace vx380 {

struct ModuleState {
  Integer nLogFileNumber = 0;  // kept as the documented record has it: Main resets it, no member reads it
  Boolean bLogBannerWritten = kFalse;
  Boolean bInitialized = kFalse;
  String strAppName;
  String strResourceDLL;  // kept as the documented record has it: held for reference, never read
  ModuleHandle hResourceDLL = 0;
  Boolean bLogToFile = kFalse;
  Boolean bDisplay = kFalse;
  String strLogFilename;
  Boolean bMsgLogChecked = kFalse;
  String strMsgLogPath;
  Boolean bMsgLogEnabled = kFalse;
  // The module stack: level d is element d of each array and item d (1-based) of the collection.
  std::vector<Long> alLineNumber;       // empty until the first entry
  std::vector<Boolean> abSuppressDebug;
  std::vector<Long> alEntryTime;
  Integer nStackDepth = 0;
  std::optional<std::vector<String>> colModuleStack;  // created at its first use
};

// This thread's record, created with the start values at its first use.
ModuleState& ThisThreadState();

}  // namespace vx380
