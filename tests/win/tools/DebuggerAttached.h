// A real debugger attached to this process for the life of the object: the rig's
// attach_debugger, found through VX380_DEBUGGER (its path, Windows or Unix). Header-only, for
// test programs of any part of the tree.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vx380::testing {

class DebuggerAttached {
 public:
  // Returns once the debugger is attached, or once it ended without attaching (see ok()).
  DebuggerAttached() {
    const char* tool = std::getenv("VX380_DEBUGGER");
    if (!tool || !*tool) {
      error_ = "VX380_DEBUGGER is not set";
      return;
    }
    if (!Start(std::string(tool[0] == '/' ? "Z:" : "") + tool)) return;
    while (!::IsDebuggerPresent() && ::WaitForSingleObject(process_, 10) == WAIT_TIMEOUT) {
    }
    if (!::IsDebuggerPresent()) error_ = "the debugger ended without attaching: " + Output();
  }
  DebuggerAttached(const DebuggerAttached&) = delete;
  DebuggerAttached& operator=(const DebuggerAttached&) = delete;
  ~DebuggerAttached() { Detach(); }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Lets the debugger go and waits until it has; what it said comes back (a "debug: TEXT" line
  // for each debug output line it was sent).
  std::string Detach() {
    if (input_) ::CloseHandle(input_);
    input_ = nullptr;
    if (process_) {
      ::WaitForSingleObject(process_, INFINITE);
      ::CloseHandle(process_);
      process_ = nullptr;
    }
    if (reader_.joinable()) reader_.join();
    return Output();
  }

 private:
  bool Start(std::string commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr, output = nullptr;
    if (!::CreatePipe(&childIn, &input_, &inherit, 0) || !::CreatePipe(&output, &childOut, &inherit, 0)) {
      error_ = "no pipe";
      return false;
    }
    ::SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn;
    si.hStdOutput = si.hStdError = childOut;
    commandLine = "\"" + commandLine + "\" " + std::to_string(::GetCurrentProcessId());
    PROCESS_INFORMATION pi{};
    const bool started =
        ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
    if (!started) {
      error_ = "cannot start " + commandLine + " (error " + std::to_string(::GetLastError()) + ")";
      ::CloseHandle(output);
      return false;
    }
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    // Read as it comes: a debugger blocked on a full pipe would stop this process.
    reader_ = std::thread([this, output] {
      char buffer[512];
      DWORD n = 0;
      while (::ReadFile(output, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buffer, n);
      }
      ::CloseHandle(output);
    });
    return true;
  }
  std::string Output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
  }

  HANDLE process_ = nullptr, input_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::string output_;
  std::string error_;
};

}  // namespace vx380::testing
