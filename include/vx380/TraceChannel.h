// The debug output channel as its writer (the library) and its readers (vxtrace)
// both see it. Each datagram or debug string is exactly one line's bytes.
#pragma once

#include <charconv>
#include <cstddef>
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

// A piece of a line's text, spelled once and usable by the core (UTF-16) and by
// readers (bytes). Only ASCII goes in here, so both forms hold the same characters.
template <std::size_t N>
struct LineText {
  char narrow[N]{};
  char16_t wide[N]{};
  constexpr LineText(const char (&s)[N]) {  // NOLINT: implicit on purpose
    for (std::size_t i = 0; i < N; ++i) {
      narrow[i] = s[i];
      wide[i] = static_cast<char16_t>(static_cast<unsigned char>(s[i]));
    }
  }
  constexpr std::string_view str() const { return {narrow, N - 1}; }
  constexpr std::u16string_view u16() const { return {wide, N - 1}; }
};

// The line shapes of the trace. Fields are joined by kSeparator; routine names are
// indented with kDepthDot (two per routine below), line markers with blanks.
//   entry:   kEntryPrefix <dots><name> kSeparator <note> kEndOfLine
//   exit:    kExitPrefix <ms, 8 wide> kSeparator <dots><name> kSeparator <note> kEndOfLine
//   marker:  kLineMarkerPrefix "(<n>)" padded to 5 kSeparator <ms, 8 wide> kSeparator
//            <blanks><name> " " <note>
//   timing:  kTimingPrefix <note> kSeparator <time> kSeparator <tick>
//   log:     kLogPrefix <text>
//   hierarchy: kHierarchyBegin, a date line, kHierarchyPrefix <blanks><type>
//            kHierarchyNameSeparator <name>, kHierarchyEnd
//   error:   kErrorPrefix <source> " - " [<procedure> " "] "described as: " <text>
//            [kErrorNumberLabel <number>]
inline constexpr LineText kSeparator{" , "};
inline constexpr LineText kEndOfLine{" , EOL "};
inline constexpr char kDepthDot = '.';
inline constexpr LineText kEntryPrefix{"RBDEBUG , BEG>>> , ........ , "};
inline constexpr LineText kExitPrefix{"RBDEBUG , END<<< , "};
inline constexpr LineText kLineMarkerPrefix{"RBDEBUG , L"};
inline constexpr LineText kStackEmpty{"RBDEBUG Stack is empty"};
inline constexpr LineText kLineWithoutEntry{"RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE"};
inline constexpr LineText kTimingPrefix{"RBDEBUGTIMING , timestamp , "};
inline constexpr LineText kLogPrefix{"RBDEBUG: "};
inline constexpr LineText kHierarchyPrefix{"RBDEBUGHIERARCHY "};
inline constexpr LineText kHierarchyBegin{"RBDEBUGHIERARCHY ====Begin===="};
inline constexpr LineText kHierarchyEnd{"RBDEBUGHIERARCHY =====End====="};
inline constexpr LineText kHierarchyNameSeparator{" : "};
inline constexpr LineText kErrorPrefix{"ERROR: "};
inline constexpr LineText kErrorSourceSeparator{" - "};
inline constexpr LineText kErrorDescribedAs{"described as: "};
inline constexpr LineText kErrorNumberLabel{", Error Number is: "};

// The channel's default socket path (POSIX) is worked out by vx380::posix::DebugSocketPath()
// in PosixPlatform.h, the one rule both the library and vxtrace follow.

}  // namespace vx380::channel
