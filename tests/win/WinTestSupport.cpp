#include "WinTestSupport.h"

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

}  // namespace vx380::wintest
