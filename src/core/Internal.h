// Helpers shared by the member implementations: error traps, message boxes,
// bounds-checked state access and the runtime's text formats.
#pragma once

#include <string>
#include <vector>

#include "vx380/Automation.h"
#include "vx380/LateBound.h"
#include "vx380/Platform.h"

namespace vx380 {
class ErrorLog;
}

namespace vx380::core {

inline const String kBanner = u"==============================";
inline const String kCrLf = u"\r\n";

// A trapped failure: Err() takes it, a box shows it (prompt prefixed), and, as when the
// trapping member ends, Err() is cleared again.
void ReportTrapped(const String& promptPrefix, Long style, const String& promptSuffix = u"");

// A box that the component shows without a title of its own.
Long UntitledBox(const String& prompt, Long style);

// The registry key of one of an application's error reporting settings.
String SettingKey(const String& appName, const String& setting);

// Element `index` of a per-level array; an index outside it is runtime error 9.
template <typename T>
T& Element(std::vector<T>& array, long long index) {
  if (index < 0 || index >= static_cast<long long>(array.size())) RaiseRuntime(rt::kSubscriptOutOfRange);
  return array[static_cast<size_t>(index)];
}

// `count` copies of `c`; a negative count is runtime error 5.
String Repeat(long long count, char16_t c);

String Decimal(long long value);
// Format(text, "@@@@@@@@"): right-aligned in `width`, shown whole when longer.
String RightAlign(const String& text, size_t width);
// Format(text, "!@@@@@"): left-aligned in `width`, shown whole when longer.
String LeftAlign(const String& text, size_t width);

// Milliseconds from `then` to `now` on the 32-bit counter, across either wrap.
inline Long Elapsed(Long now, Long then) {
  return static_cast<Long>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}

// A switch read on every call (the default value of root\subKey, through the object's
// LookUpValueForKey): read again only when the platform says the key may have changed since.
Boolean LookUpSwitch(ErrorLog& log, Long root, const String& subKey, String& value);

// Debug lines of plain ASCII go to the channel as bytes built in a buffer the thread reuses,
// without a conversion, when nobody could tell: the platform's code page keeps ASCII as it is
// (asked once per platform) and DebugTrace is the component's own.
bool AllAscii(const String& text);
// Narrows units to bytes while they are ASCII; how many were (count when all were).
size_t NarrowWhileAscii(const char16_t* in, size_t count, char* out);
bool AsciiKept(Platform& platform) noexcept;
// Changes whenever a platform is installed: what is cached of one is keyed on it.
std::uint64_t PlatformInstallation();
// Whether anybody may hear the debug channel: the installed platform says so when it is a
// ListenerAwarePlatform (looked for once per installation and thread); others always may.
bool DebugOutputHeard();
bool DirectDebugLines(const ErrorLog& log);
// The thread's line buffer, empty, for as long as the object lives; a nested use gets its own.
class DebugLineBuffer {
 public:
  DebugLineBuffer();
  ~DebugLineBuffer();
  DebugLineBuffer(const DebugLineBuffer&) = delete;
  DebugLineBuffer& operator=(const DebugLineBuffer&) = delete;
  std::string& bytes() { return *bytes_; }
  // ASCII text (checked by the caller) as its bytes.
  void AppendAscii(const String& text);
  // The text as its bytes when it is all ASCII; otherwise false, and the line as it was.
  bool AppendIfAscii(const String& text);
  // Ends the line and hands it to the platform; never fails its caller.
  void Write(Platform& platform) noexcept;

 private:
  std::string* bytes_;
  std::string own_;
};

// CStr: a Null or an object is a failure.
String VariantToString(const Variant& v);
// The text a value adds to a string concatenation: Null adds nothing.
String ConcatText(const Variant& v);
// An element converted to an object reference (possibly Nothing); anything else is a type mismatch.
Object VariantToObject(const Variant& v);
// A double in the runtime's general format (up to 15 significant digits).
String DoubleText(double value);

}  // namespace vx380::core
