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

std::string Failure(const char* what) {
  return std::string(what) + " (error " + std::to_string(::GetLastError()) + ")";
}

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
  UniqueHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                            static_cast<DWORD>(bytes), name.c_str()));
  if (mapping && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    error = "another listener already offers the trace ring";
    return false;
  }
  UniqueHandle event(mapping ? ::CreateEventW(&security.attributes, FALSE, FALSE, (name + L"-wake").c_str()) : nullptr);
  MappedView view(event ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes) : nullptr);
  if (!view) {
    error = Failure("cannot create the trace ring");
    return false;
  }
  channel::InitializeRing(view.get(), bytes);
  ReaderSystem().event = event.get();
  reader_.Attach(view.get(), bytes, ReaderSystem());
  reader_.SetReaderProcess(::GetCurrentProcessId());
  Offer(view.release());
  mapping_ = std::move(mapping);
  event_ = std::move(event);
  return true;
}

void TraceRingListener::Close() {
  MappedView ring(Withdraw());
  if (!ring) return;
  ring.reset();
  event_.reset();
  mapping_.reset();
}

}  // namespace vx380::win32
