// Scenarios of the behaviour tests: each drives the component as a host would and reports
// on stdout what only the host can see (raised errors, the pending error, answers). The
// scripts beside this file read the rest from the real channels: debug output, boxes, files.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Win32Platform.h"
#include "vx380/ErrorLog.h"

namespace vx380::behaviour {

using Args = std::vector<String>;  // the scenario's own arguments, after its name

// One line on stdout, flushed at once so a crash still shows how far a scenario got.
void Say(const std::string& line);
// number|source|description|help file|help context
std::string Fields(const ErrObject& e);
// A marker in the debug transcript between cases, sent past the component.
void Mark(const std::string& text);
// Runs `work` on a thread of its own (a fresh per-thread record) and waits for it.
void OnFreshThread(const std::function<void()>& work);
// The error a host handler is busy with when it calls LogError.
ErrObject PendingError();

int LogErrorTable(const Args& args);
int ErrorLogFile(const Args& args);
int Settings(const Args& args);
int MessageLog(const Args& args);
int LoadParent(const Args& args);
int LoadChild(const Args& args);
int Trace(const Args& args);
int RunSystem(const Args& args);

}  // namespace vx380::behaviour
