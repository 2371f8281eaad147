// The listener's side of the trace ring on Windows: a named mapping and event only this user
// may open, created afresh (never taken over from someone else).
#include "TraceRingSystemWin32.h"
#include "TraceRingWin32.h"

#include <sddl.h>

namespace vx380::win32 {

namespace {

// The reader's event system lives as long as the process: a ring has one reader.
EventRingSystem& ReaderSystem() {
  static EventRingSystem system;
  return system;
}

std::string Failure(const char* what) { return std::string(what) + " (error " + std::to_string(::GetLastError()) + ")"; }

// Full access for this user, nothing for anybody else.
struct UserOnly {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  UserOnly() {
    TokenSid user(TokenUser);
    LPWSTR text = nullptr;
    if (!user.sid || !::ConvertSidToStringSidW(user.sid, &text)) return;
    const std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(text) + L")";
    ::LocalFree(text);
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                           &attributes.lpSecurityDescriptor, nullptr);
  }
  ~UserOnly() { ::LocalFree(attributes.lpSecurityDescriptor); }
};

}  // namespace

TraceRingListener::~TraceRingListener() { Close(); }

bool TraceRingListener::Open(const std::wstring& name, std::size_t bytes, std::string& error) {
  Close();
  if (channel::RingCapacityFor(bytes) == 0) {
    error = "unsuitable ring size";
    return false;
  }
  UserOnly security;
  if (!security.attributes.lpSecurityDescriptor) {
    error = Failure("cannot make the trace ring private");
    return false;
  }
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(bytes), name.c_str());
  if (mapping && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mapping);
    error = "another listener already offers the trace ring";
    return false;
  }
  HANDLE event = mapping ? ::CreateEventW(&security.attributes, FALSE, FALSE, (name + L"-wake").c_str()) : nullptr;
  void* base = event ? ::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes) : nullptr;
  if (!base) {
    error = Failure("cannot create the trace ring");
    if (event) ::CloseHandle(event);
    if (mapping) ::CloseHandle(mapping);
    return false;
  }
  channel::InitializeRing(base, bytes);
  ReaderSystem().event = event;
  reader_.Attach(base, bytes, ReaderSystem());
  reader_.SetReaderProcess(::GetCurrentProcessId());
  Offer(base);
  mapping_ = mapping;
  event_ = event;
  return true;
}

void TraceRingListener::Close() {
  void* ring = Withdraw();
  if (!ring) return;
  ::UnmapViewOfFile(ring);
  ::CloseHandle(event_);
  ::CloseHandle(mapping_);
}

}  // namespace vx380::win32
