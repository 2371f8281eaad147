// Automation value types and the error model shared by the whole component.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>

#include "vx380/Export.h"

namespace vx380 {

using String = std::u16string;  // counted UTF-16; an absent string equals ""
using Integer = std::int16_t;
using Long = std::int32_t;
using Boolean = std::int16_t;  // True = -1, False = 0, any non-zero tests True

constexpr Boolean kTrue = -1;
constexpr Boolean kFalse = 0;

// The interface's own names, unscoped as the interface has them: they live in namespace vx380
// only, so write vx380::SUCCESS. A host header that defines SUCCESS or FAILURE as a macro must
// be included after this one, or the macro undefined first; `using namespace vx380` beside
// such a header is ambiguous.
enum mxErrorCodes : Long { SUCCESS = 0, FAILURE = 1 };

enum mxReportingLevelConstants : Long {
  mxReportingLevelOff = 0,
  mxReportingLevelLog = 1,
  mxReportingLevelDisplay = 2,
  mxReportingLevelLogAndDisplay = 3,
};

// Classic runtime error numbers the component raises or reports, each with its classic text
// (AutomationError::Runtime).
namespace rt {
constexpr Long kInvalidProcedureCall = 5;
constexpr Long kOverflow = 6;
constexpr Long kOutOfMemory = 7;
constexpr Long kSubscriptOutOfRange = 9;
constexpr Long kTypeMismatch = 13;
constexpr Long kBadFileName = 52;
constexpr Long kFileNotFound = 53;
constexpr Long kDiskFull = 61;
constexpr Long kPermissionDenied = 70;
constexpr Long kPathFileAccessError = 75;
constexpr Long kPathNotFound = 76;
constexpr Long kObjectNotSet = 91;
constexpr Long kInvalidUseOfNull = 94;
constexpr Long kNoAutomationInterface = 430;
constexpr Long kNoSuchMember = 438;
constexpr Long kArgumentNotOptional = 449;
constexpr Long kWrongArgumentCount = 450;
}  // namespace rt

// Message box styles the component passes itself (buttons and icon added together).
namespace box {
constexpr Long kOkOnly = 0;
constexpr Long kCritical = 16;     // critical-stop icon
constexpr Long kExclamation = 48;  // exclamation icon
}  // namespace box

// Source given to failures the component raises on its own behalf.
inline const String kRuntimeSource = u"VX380ErrorLogging";

// The thread's error object: the one current error of the calling thread.
struct ErrObject {
  Long number = 0;
  String source;
  String description;
  String helpFile;
  Long helpContext = 0;

  void Clear() { *this = ErrObject{}; }
  bool operator==(const ErrObject& o) const {
    return number == o.number && source == o.source && description == o.description && helpFile == o.helpFile &&
           helpContext == o.helpContext;
  }
  bool operator!=(const ErrObject& o) const { return !(*this == o); }
};

VX380_API ErrObject& Err();  // this thread's error object

// A raised error: what ends a member call with a failure.
class VX380_API AutomationError : public std::exception {
 public:
  AutomationError(Long number, String source, String description, String helpFile = u"", Long helpContext = 0);
  // A classic runtime error with its standard text.
  static AutomationError Runtime(Long number);

  const ErrObject& error() const { return error_; }
  Long number() const { return error_.number; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  ErrObject error_;
  std::string what_;
};

[[noreturn]] VX380_API void RaiseRuntime(Long number);

// The failure being handled, as the error object sees it; call only inside a catch block.
// Failures that are not automation errors become out of memory (7) or E_UNEXPECTED.
VX380_API ErrObject ErrorFromCurrentException();

// UTF-8 <-> UTF-16 helpers for file names, diagnostics and tools (not the ANSI code page).
VX380_API std::string ToUtf8(const String& s);
VX380_API String FromUtf8(std::string_view s);  // invalid sequences become U+FFFD

}  // namespace vx380
