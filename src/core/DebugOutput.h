// Debug lines of plain ASCII go to the channel as bytes built in a buffer the thread reuses,
// without a conversion, when nobody could tell: the platform's code page keeps ASCII as it is
// (asked once per installation) and DebugTrace is the component's own.
#pragma once

#include <string>
#include <string_view>

#include "vx380/Platform.h"

namespace vx380 {
class ErrorLog;
}

namespace vx380::core {

struct ThreadContext;

bool AsciiKept(Platform& platform) noexcept;
bool AsciiKept(Platform& platform, ThreadContext& thread) noexcept;  // the calling thread's
bool DirectDebugLines(const ErrorLog& log);
// DebugTrace's line: nothing when nobody hears it; never fails its caller.
void TraceText(std::u16string_view text) noexcept;
void TraceHeardText(std::u16string_view text) noexcept;    // the platform said someone may hear
void TraceHeardTerminated(const char16_t* text) noexcept;  // the same up to the text's first NUL

// The thread's line buffer, empty, for as long as the object lives; a nested use gets its own.
class DebugLineBuffer {
 public:
  DebugLineBuffer();
  explicit DebugLineBuffer(ThreadContext& thread);  // the calling thread's
  ~DebugLineBuffer();
  DebugLineBuffer(const DebugLineBuffer&) = delete;
  DebugLineBuffer& operator=(const DebugLineBuffer&) = delete;
  std::string& bytes() { return *bytes_; }
  // ASCII text (checked by the caller) as its bytes.
  void AppendAscii(std::u16string_view text);
  // The text as its bytes when it is all ASCII; otherwise false, and the line as it was.
  bool AppendIfAscii(std::u16string_view text);
  // The same for a text that ends at its first NUL.
  bool AppendTerminatedIfAscii(const char16_t* text);
  // Ends the line and hands it to the platform; never fails its caller.
  void Write(Platform& platform) noexcept;

 private:
  std::string* bytes_;
  bool* busy_ = nullptr;
  std::string own_;
};

}  // namespace vx380::core
