// Text files for the logs. Appends use FILE_APPEND_DATA, so every write lands whole at
// the current end of the file even while other threads or processes append to it.
//
// Wine does not append atomically: a write on a FILE_APPEND_DATA handle is served as two
// steps, reading the current end of the file and then writing at that offset, not as one
// append of the host system. Two processes appending at the same moment can both take the
// same end and the second line overwrites the first (the log-under-load suites lose lines).
// Under Wine every append handle therefore also holds a named mutex for its file, taken
// around each write; Windows itself appends atomically and needs none.
#include "Win32Platform.h"

#include <cwchar>
#include <mutex>
#include <set>

namespace vx380::win32 {
namespace {

struct OpenFile {
  HANDLE file;
  HANDLE appendLock;  // only under Wine
};

bool UnderWine() {
  static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// One mutex per file, whatever path reached it.
HANDLE AppendLockFor(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return nullptr;
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\VX380Append-%08lx-%08lx%08lx", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                info.nFileIndexLow);
  return ::CreateMutexW(nullptr, FALSE, name);
}

// Handles are honoured only while open here, so a stale or made-up one never reaches the
// system as a pointer.
class OpenFiles {
 public:
  FileHandle Add(OpenFile* file) {
    std::lock_guard lock(mutex_);
    files_.insert(file);
    return reinterpret_cast<FileHandle>(file);
  }
  OpenFile* Find(FileHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(reinterpret_cast<OpenFile*>(handle));
    return it == files_.end() ? nullptr : *it;
  }
  OpenFile* Take(FileHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(reinterpret_cast<OpenFile*>(handle));
    if (it == files_.end()) return nullptr;
    OpenFile* file = *it;
    files_.erase(it);
    return file;
  }

 private:
  std::mutex mutex_;
  std::set<OpenFile*> files_;
};

// Never destroyed: logs may still be written while the process exits.
OpenFiles& Files() {
  static OpenFiles* files = new OpenFiles;
  return *files;
}

}  // namespace

Long RuntimeErrorForWin32(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return rt::kPathNotFound;
    case ERROR_FILE_NOT_FOUND:
      return rt::kFileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return rt::kPermissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return rt::kDiskFull;
    case ERROR_INVALID_NAME:
      return rt::kBadFileName;
    default:
      return rt::kPathFileAccessError;
  }
}

Long Win32Platform::OpenTextFile(const String& path, bool truncate, FileHandle& file) {
  const DWORD access = truncate ? GENERIC_WRITE : FILE_APPEND_DATA;
  const DWORD disposition = truncate ? CREATE_ALWAYS : OPEN_ALWAYS;
  HANDLE h = ::CreateFileW(Wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    // A folder cannot be opened as a file: the runtime calls that a path/file access error.
    if (error == ERROR_ACCESS_DENIED) {
      DWORD attributes = ::GetFileAttributesW(Wide(path));
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return rt::kPathFileAccessError;
    }
    return RuntimeErrorForWin32(error);
  }
  file = Files().Add(new OpenFile{h, !truncate && UnderWine() ? AppendLockFor(h) : nullptr});
  return 0;
}

Long Win32Platform::WriteTextFile(FileHandle file, const std::string& ansiBytes) {
  OpenFile* f = Files().Find(file);
  if (!f) return rt::kBadFileName;
  if (f->appendLock) ::WaitForSingleObject(f->appendLock, INFINITE);  // abandoned by a dead writer is fine too
  DWORD written = 0;
  BOOL ok = ::WriteFile(f->file, ansiBytes.data(), static_cast<DWORD>(ansiBytes.size()), &written, nullptr);
  DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  if (f->appendLock) ::ReleaseMutex(f->appendLock);
  if (!ok) return RuntimeErrorForWin32(error);
  // A short write without an error only happens when the volume runs out of space.
  return written == ansiBytes.size() ? 0 : rt::kDiskFull;
}

void Win32Platform::CloseTextFile(FileHandle file) {
  OpenFile* f = Files().Take(file);
  if (!f) return;
  if (f->appendLock) ::CloseHandle(f->appendLock);
  ::CloseHandle(f->file);
  delete f;
}

}  // namespace vx380::win32
