// The writing side of the trace ring on Windows: finds the listener's named mapping (as rarely
// as every 10 ms), checks it belongs to this user, maps it, and writes lines with no call into
// the system on the way but a look, every 10 ms at most, whether the listener still runs.
#include "TraceRingWin32.h"

#include "OwnedHandles.h"
#include "TraceRingSystemWin32.h"
#include "Win32Platform.h"
#include "channel/DebugRoute.h"
#include "channel/RingLookup.h"

#include <aclapi.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <memory>

namespace vx380::win32 {

namespace {

constexpr std::uint64_t kMsNs = 1000000;
constexpr std::uint64_t kRecheckNs = 10 * kMsNs;

// A mapped ring. Never freed, as a thread may still be about to look at it; unmapped only once
// it is out of use and every write of ours into it is over.
struct MappedRing {
  void* base = nullptr;
  channel::RingWriter writer;
  EventRingSystem system;
  HANDLE reader = nullptr;  // the listener's process, to tell when it is gone
  std::atomic<std::uint64_t> recheckAt{0};
  std::atomic<int> writing{0};                   // this process's threads inside a write
  std::atomic<std::uint64_t> droppedUnheard{0};  // lines dropped once the listener was gone
};

std::atomic<std::uint64_t> g_lost{0};

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
  const bool ours =
      (user.sid && ::EqualSid(owner, user.sid)) || (defaultOwner.sid && ::EqualSid(owner, defaultOwner.sid));
  ::LocalFree(descriptor);
  return ours;
}

MappedRing* MapRing() {
  const std::wstring name = TraceRingName();
  UniqueHandle mapping(::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL, FALSE, name.c_str()));
  if (!mapping) return nullptr;
  UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-wake").c_str()));
  if (!event || !OwnedByUs(mapping.get())) return nullptr;
  MappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  mapping.reset();  // the view keeps the section
  MEMORY_BASIC_INFORMATION region{};
  if (!view || !::VirtualQuery(view.get(), &region, sizeof region)) return nullptr;
  auto ring = std::make_unique<MappedRing>();
  ring->system.event = event.get();
  ring->base = view.get();
  if (!ring->writer.Attach(view.get(), region.RegionSize, ring->system)) return nullptr;
  // A listener whose process cannot be watched, or that is gone already, is not written to.
  UniqueHandle reader(::OpenProcess(SYNCHRONIZE, FALSE, ring->writer.ReaderProcess()));
  if (!reader || ::WaitForSingleObject(reader.get(), 0) != WAIT_TIMEOUT) return nullptr;
  // The ring keeps them from here: it is never freed (see MappedRing).
  ring->reader = reader.release();
  event.release();
  view.release();
  ring->recheckAt.store(ring->system.NowNs() + kRecheckNs, std::memory_order_relaxed);
  return ring.release();
}

bool ReaderGone(const MappedRing& ring) { return ::WaitForSingleObject(ring.reader, 0) == WAIT_OBJECT_0; }

void Retire(MappedRing* ring) { g_lookup.Retire(ring); }

// This process's lines in the ring of a listener that died before reading them are counted, once
// every write of ours into it is over, and said on the debug channel the lines go to now.
void Abandon(MappedRing* ring) {
  if (!g_lookup.Retire(ring)) return;
  std::atomic_thread_fence(std::memory_order_seq_cst);  // pairs with the writers' in TryWriteRing
  // A write waits for room at most waitMs; one that takes longer (its thread suspended) is
  // not waited for.
  const std::uint64_t deadline = ring->system.NowNs() + (ring->writer.waitMs + 1000) * kMsNs;
  while (ring->writing.load(std::memory_order_acquire) != 0 && ring->system.NowNs() < deadline) ring->system.Pause();
  const bool writesOver = ring->writing.load(std::memory_order_acquire) == 0;
  const std::uint64_t lost = ring->writer.UnreadOf(::GetCurrentProcessId()) + ring->droppedUnheard.load();
  const std::uint32_t listener = ring->writer.ReaderProcess();
  // Writes begin only inside the count and only while the ring is in use: none can begin now.
  if (writesOver) ::UnmapViewOfFile(ring->base);
  if (lost == 0) return;
  g_lost.fetch_add(lost, std::memory_order_relaxed);
  const std::string line = "vx380: " + std::to_string(lost) + " debug lines lost: the trace listener (process " +
                           std::to_string(listener) + ") ended before reading them\n";
  ::OutputDebugStringA(line.c_str());
}

// The debug output's reader hands its one buffer back once it has taken a line: when the buffer
// is ready again, every line this thread wrote there before has been read. Waits at most the
// ring's wait for room; gives the buffer back at once for the writer it was meant for.
void AwaitDebugOutputRead(DWORD waitMs) {
  const UniqueHandle ready(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, L"DBWIN_BUFFER_READY"));
  if (!ready) return;  // nobody reads the debug output through it
  // Writers take the buffer one at a time under this mutex; it may not exist.
  const UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"DBWinMutex"));
  const DWORD got = mutex ? ::WaitForSingleObject(mutex.get(), waitMs) : WAIT_FAILED;
  const bool owned = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
  if (::WaitForSingleObject(ready.get(), waitMs) == WAIT_OBJECT_0) ::SetEvent(ready.get());
  if (owned) ::ReleaseMutex(mutex.get());
}

// Set while the thread's last line went elsewhere than a ring (the debug output).
thread_local bool t_lineWentElsewhere = false;

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
  Abandon(ring);
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
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return;
  const UniqueHandle token(opened);
  DWORD size = 0;
  if (::GetTokenInformation(token.get(), what, buffer_, sizeof buffer_, &size))
    sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer_)->User.Sid
                            : reinterpret_cast<TOKEN_OWNER*>(buffer_)->Owner;
}

std::uint64_t LinesLostToGoneListeners() { return g_lost.load(std::memory_order_relaxed); }

bool TryWriteRing(std::string_view line) {
  if (::IsDebuggerPresent()) {
    t_lineWentElsewhere = true;
    return false;
  }
  const DWORD savedError = ::GetLastError();
  MappedRing* ring = CurrentRing();
  bool written = false;
  if (ring) {
    // Counted in before looking again whether the ring is still in use: a thread that retires
    // it either sees this write coming or this thread sees the ring gone.
    ring->writing.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (g_lookup.current() == ring) {
      static thread_local const DWORD tid = ::GetCurrentThreadId();
      static const DWORD pid = ::GetCurrentProcessId();
      if (t_lineWentElsewhere) {  // back from the debug output: its lines are shown first
        AwaitDebugOutputRead(ring->writer.waitMs);
        t_lineWentElsewhere = false;
      }
      const channel::RingAnswer answer = channel::AnswerOf(ring->writer.Write(line, pid, tid));
      written = answer.taken;
      if (answer.retire) Retire(ring);
      if (answer.askSoon) {
        // A line dropped in the ring of a listener that is gone is counted with the lines
        // left unread there: its listener never will.
        if (ReaderGone(*ring)) ring->droppedUnheard.fetch_add(1, std::memory_order_relaxed);
        ring->recheckAt.store(0, std::memory_order_relaxed);
      }
    }
    ring->writing.fetch_sub(1, std::memory_order_release);
  }
  if (!written) t_lineWentElsewhere = true;
  ::SetLastError(savedError);
  return written;
}

}  // namespace vx380::win32
