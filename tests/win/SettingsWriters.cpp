#include "SettingsWriters.h"

#include <cstdio>
#include <cstdlib>

#include "WinTestSupport.h"

namespace vx380::wintest {

LONG ApplyHere(HKEY hive, const std::string& key, const RegChange& change) {
  if (change.remove) return RegDeleteKeyA(hive, key.c_str());
  HKEY opened = nullptr;
  LONG rc = RegCreateKeyExA(hive, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(opened, nullptr, 0, change.type, reinterpret_cast<const BYTE*>(change.bytes.data()),
                      static_cast<DWORD>(change.bytes.size()));
  RegCloseKey(opened);
  return rc;
}

OtherThreadWriter::OtherThreadWriter()
    : thread_([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
          changed_.wait(lock, [this] { return stop_ || job_; });
          if (stop_) return;
          result_ = job_();
          job_ = nullptr;
          done_ = true;
          changed_.notify_all();
        }
      }) {}

OtherThreadWriter::~OtherThreadWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

LONG OtherThreadWriter::Apply(HKEY hive, const std::string& key, const RegChange& change) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_ = false;
  job_ = [&] { return ApplyHere(hive, key, change); };
  changed_.notify_all();
  changed_.wait(lock, [this] { return done_; });
  return result_;
}

OtherProcessWriter::OtherProcessWriter() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE childIn = nullptr, childOut = nullptr;
  if (!CreatePipe(&childIn, &toChild_, &inherit, 0) || !CreatePipe(&fromChild_, &childOut, &inherit, 0)) return;
  SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = childIn;
  si.hStdOutput = childOut;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = L"\"" + ProgramFolder() + L"vx380_win_reg_writer.exe\"";
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    process_ = pi.hProcess;
    CloseHandle(pi.hThread);
  }
  CloseHandle(childIn);
  CloseHandle(childOut);
}

OtherProcessWriter::~OtherProcessWriter() {
  if (toChild_) CloseHandle(toChild_);  // end of input ends the writer
  if (process_) {
    WaitForSingleObject(process_, 60000);
    CloseHandle(process_);
  }
  if (fromChild_) CloseHandle(fromChild_);
}

LONG OtherProcessWriter::Apply(HKEY hive, const std::string& key, const RegChange& change) {
  std::string command = std::string(change.remove ? "del " : "set ") + (hive == HKEY_LOCAL_MACHINE ? "M " : "U ") + key;
  if (!change.remove) {
    command += " " + std::to_string(change.type) + " ";
    char hex[3];
    for (unsigned char c : change.bytes) {
      std::snprintf(hex, sizeof hex, "%02x", c);
      command += hex;
    }
  }
  command += "\n";
  DWORD n = 0;
  if (!WriteFile(toChild_, command.data(), static_cast<DWORD>(command.size()), &n, nullptr)) return -1;
  std::string reply;
  char c = 0;
  while (ReadFile(fromChild_, &c, 1, &n, nullptr) && n == 1 && c != '\n') reply += c;
  if (reply.compare(0, 3, "ok ") != 0) return -1;
  return std::atol(reply.c_str() + 3);
}

}  // namespace vx380::wintest
