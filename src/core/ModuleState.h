// The per-thread record shared by every ErrorLog object of a thread. Private to the core.
#pragma once

#include "core/ModuleStack.h"
#include "core/ResourceModule.h"
#include "vx380/Automation.h"
#include "vx380/Platform.h"

namespace vx380 {

struct ModuleState {
  Integer nLogFileNumber = 0;  // kept as the documented record has it: Main resets it, no member reads it
  Boolean bLogBannerWritten = kFalse;
  Boolean bInitialized = kFalse;
  String strAppName;
  String strResourceDLL;  // kept as the documented record has it: held for reference, never read
  core::ResourceModule hResourceDLL;
  Boolean bLogToFile = kFalse;
  Boolean bDisplay = kFalse;
  String strLogFilename;
  Boolean bMsgLogChecked = kFalse;
  String strMsgLogPath;
  Boolean bMsgLogEnabled = kFalse;
  core::ModuleStack moduleStack;
};

// This thread's record, created with the start values at its first use.
ModuleState& ThisThreadState();

}  // namespace vx380
