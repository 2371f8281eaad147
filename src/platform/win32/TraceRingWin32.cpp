// The writing side of the trace ring on Windows: finds the listener's named mapping (as rarely
// as every 10 ms), checks it belongs to this user, maps it, and writes lines with no call into
// the system on the way.
#include "TraceRingWin32.h"

#include "TraceRingSystemWin32.h"
#include "Win32Platform.h"
#include "channel/RingLookup.h"

#include <aclapi.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>

namespace vx380::win32 {

namespace {

constexpr std::uint64_t kMsNs = 1000000;
constexpr std::uint64_t kRecheckNs = 1000 * kMsNs;

std::atomic<int> g_forcedDebugger{-1};

bool DebuggerPresent() {
  const int forced = g_forcedDebugger.load(std::memory_order_relaxed);
  return forced >= 0 ? forced != 0 : ::IsDebuggerPresent() != FALSE;
}

// A mapped ring; never freed nor unmapped, as a thread may still be writing into it.
struct MappedRing {
  channel::RingWriter writer;
  EventRingSystem system;
  HANDLE reader = nullptr;  // the listener's process, to tell when it is gone
  std::atomic<std::uint64_t> recheckAt{0};
};

struct SrwLock {
  SRWLOCK srw = SRWLOCK_INIT;
  void lock() { ::AcquireSRWLockExclusive(&srw); }
  void unlock() { ::ReleaseSRWLockExclusive(&srw); }
};
channel::RingLookup<MappedRing, SrwLock> g_lookup;

// The object's owner is this process's user, or the owner this user's objects get by default.
bool OwnedByUs(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
    return false;
  TokenSid user(TokenUser), defaultOwner(TokenOwner);
  const bool ours = (user.sid && ::EqualSid(owner, user.sid)) || (defaultOwner.sid && ::EqualSid(owner, defaultOwner.sid));
  ::LocalFree(descriptor);
  return ours;
}

MappedRing* MapRing() {
  const std::wstring name = TraceRingName();
  HANDLE mapping = ::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL, FALSE, name.c_str());
  if (!mapping) return nullptr;
  HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-wake").c_str());
  void* base = event && OwnedByUs(mapping) ? ::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0) : nullptr;
  ::CloseHandle(mapping);  // the view keeps the section
  MEMORY_BASIC_INFORMATION region{};
  auto* ring = base && ::VirtualQuery(base, &region, sizeof region) ? new MappedRing : nullptr;
  if (ring) {
    ring->system.event = event;
    if (ring->writer.Attach(base, region.RegionSize, ring->system)) {
      ring->reader = ::OpenProcess(SYNCHRONIZE, FALSE, ring->writer.ReaderProcess());
      ring->recheckAt.store(ring->system.NowNs() + kRecheckNs, std::memory_order_relaxed);
      return ring;
    }
    delete ring;
  }
  if (base) ::UnmapViewOfFile(base);
  if (event) ::CloseHandle(event);
  return nullptr;
}

bool ReaderGone(const MappedRing& ring) {
  return ring.reader && ::WaitForSingleObject(ring.reader, 0) == WAIT_OBJECT_0;
}

void Retire(MappedRing* ring) { g_lookup.Retire(ring); }

MappedRing* LookForRing(std::uint64_t now) { return g_lookup.Look(now, MapRing, RingClockNs); }

MappedRing* CurrentRing() {
  MappedRing* ring = g_lookup.current();
  const std::uint64_t now = RingClockNs();
  if (!ring) return LookForRing(now);
  std::uint64_t recheckAt = ring->recheckAt.load(std::memory_order_relaxed);
  if (now < recheckAt ||
      !ring->recheckAt.compare_exchange_strong(recheckAt, now + kRecheckNs, std::memory_order_relaxed))
    return ring;
  if (!ReaderGone(*ring)) return ring;
  Retire(ring);
  return LookForRing(now);
}

}  // namespace

std::wstring TraceRingName() {
  std::wstring name = L"Local\\vx380-trace-ring";
  wchar_t suffix[64];
  const DWORD n = ::GetEnvironmentVariableW(L"VX380_TRACE_RING", suffix, 64);
  if (n > 0 && n < 64) name += L"-" + std::wstring(suffix, n);
  return name;
}

TokenSid::TokenSid(TOKEN_INFORMATION_CLASS what) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  DWORD size = 0;
  if (::GetTokenInformation(token, what, buffer_, sizeof buffer_, &size))
    sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer_)->User.Sid
                            : reinterpret_cast<TOKEN_OWNER*>(buffer_)->Owner;
  ::CloseHandle(token);
}

void ForceDebuggerPresent(int present) { g_forcedDebugger.store(present, std::memory_order_relaxed); }

bool TryWriteRing(std::string_view line) {
  if (DebuggerPresent()) return false;
  const DWORD savedError = ::GetLastError();
  MappedRing* ring = CurrentRing();
  bool written = false;
  if (ring) {
    static thread_local const DWORD tid = ::GetCurrentThreadId();
    static const DWORD pid = ::GetCurrentProcessId();
    const channel::WriteResult result = ring->writer.Write(line, pid, tid);
    written = result != channel::WriteResult::kClosed;
    if (!written) Retire(ring);
    if (result == channel::WriteResult::kDropped) ring->recheckAt.store(0, std::memory_order_relaxed);
  }
  ::SetLastError(savedError);
  return written;
}

}  // namespace vx380::win32
