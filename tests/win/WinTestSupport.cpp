#include "WinTestSupport.h"

// After windows.h, which it needs.
#include <tlhelp32.h>

#include <thread>
#include <vector>

namespace vx380::wintest {

std::wstring ProgramFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n;
  while ((n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()))) >= buffer.size())
    buffer.resize(buffer.size() * 2);
  std::wstring path(buffer.data(), n);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

namespace {
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}
}  // namespace

ScratchFolder::ScratchFolder(const std::wstring& name)
    : path_(ProgramFolder() + L"scratch-" + name + L"-" + std::to_wstring(GetCurrentProcessId())) {
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

String ScratchFolder::File(const std::wstring& name) const { return ToString(path_ + L"\\" + name); }

std::string ReadWholeFile(const String& path) {
  HANDLE h = CreateFileW(win32::Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  CloseHandle(h);
  return out;
}

std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring path = unixPath[0] == '/' ? L"Z:" : L"";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

long RunProgram(const std::wstring& commandLine, unsigned long timeoutMs, std::string& output) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return -2;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write;
  std::wstring line = commandLine;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write);
  if (!started) {
    CloseHandle(read);
    return -2;
  }
  // The output is read as it comes, so a full pipe never stops the program.
  std::thread reader([&] {
    char buffer[512];
    DWORD n = 0;
    while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n > 0) output.append(buffer, n);
  });
  DWORD code = 0;
  const bool ended = WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(pi.hProcess, 99);
  reader.join();
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(read);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return ended ? static_cast<long>(code) : -1;
}

// GetProcessHandleCount says 0 under Wine; the system's handle table tells.
unsigned long HandleCount() {
  struct Entry {
    ULONG pid;
    BYTE type, flags;
    USHORT value;
    void* object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<unsigned char> buffer(1 << 20);
  ULONG size = 0;
  while (query && query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &size) == LONG(0xC0000004))
    buffer.resize(buffer.size() * 2);
  const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
  unsigned long ours = 0;
  for (ULONG i = 0; i < count && sizeof(void*) + (i + 1) * sizeof(Entry) <= buffer.size(); ++i)
    if (entries[i].pid == GetCurrentProcessId()) ++ours;
  return ours;
}

unsigned long ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  unsigned long count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

}  // namespace vx380::wintest
