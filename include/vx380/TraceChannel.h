// The debug output channel as its writer (the library) and its readers (vxtrace)
// both see it. Each datagram or debug string is exactly one line's bytes.
#pragma once

#include <charconv>
#include <string>
#include <string_view>

namespace vx380::channel {

// POSIX: a thread's own sending socket is bound to the abstract address
// "\0vx380/<pid>/<tid>" (tid: the kernel's thread id), which the listener's recvfrom
// reports. A socket shared by several threads stays unbound: its lines are known by
// process only. A listener trusts the name only when its pid matches the
// kernel-verified sender, since anybody can bind any abstract name.
inline constexpr std::string_view kSenderPrefix = "vx380/";

inline std::string SenderName(long pid, long tid) {
  return std::string(kSenderPrefix) + std::to_string(pid) + "/" + std::to_string(tid);
}

// Reads "vx380/<pid>/<tid>" (without the leading NUL); false for anything else.
inline bool ParseSenderName(std::string_view name, long& pid, long& tid) {
  if (name.substr(0, kSenderPrefix.size()) != kSenderPrefix) return false;
  name.remove_prefix(kSenderPrefix.size());
  const char* const end = name.data() + name.size();
  auto [p, ec] = std::from_chars(name.data(), end, pid);
  if (ec != std::errc() || p == end || *p != '/' || pid <= 0) return false;
  auto [q, ec2] = std::from_chars(p + 1, end, tid);
  return ec2 == std::errc() && q == end && tid > 0;
}

}  // namespace vx380::channel
