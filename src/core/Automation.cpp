// The thread's error object, raised errors and checked arithmetic.
#include "vx380/Automation.h"

#include "channel/TextCodec.h"
#include "core/ThreadContext.h"
#include "core/KeptExports.h"

#include <limits>
#include <new>
#include <stdexcept>
#include <optional>
#include <string_view>

namespace vx380 {

ErrObject& Err() { return core::ThisThread().error; }

namespace {
struct RuntimeError {
  Long number;
  const char16_t* text;
};

constexpr RuntimeError kRuntimeErrors[] = {
    {rt::kInvalidProcedureCall, u"Invalid procedure call or argument"},
    {rt::kOverflow, u"Overflow"},
    {rt::kOutOfMemory, u"Out of memory"},
    {rt::kSubscriptOutOfRange, u"Subscript out of range"},
    {rt::kTypeMismatch, u"Type mismatch"},
    {rt::kBadFileName, u"Bad file name or number"},
    {rt::kFileNotFound, u"File not found"},
    {rt::kDiskFull, u"Disk full"},
    {rt::kPermissionDenied, u"Permission denied"},
    {rt::kPathFileAccessError, u"Path/File access error"},
    {rt::kPathNotFound, u"Path not found"},
    {rt::kObjectNotSet, u"Object variable or With block variable not set"},
    {rt::kInvalidUseOfNull, u"Invalid use of Null"},
    {rt::kNoAutomationInterface, u"Class does not support Automation or does not support expected interface"},
    {rt::kNoSuchMember, u"Object doesn't support this property or method"},
    {rt::kArgumentNotOptional, u"Argument not optional"},
    {rt::kWrongArgumentCount, u"Wrong number of arguments or invalid property assignment"},
};
}  // namespace

String RuntimeErrorText(Long number) {
  for (const RuntimeError& e : kRuntimeErrors)
    if (e.number == number) return e.text;
  return u"Application-defined or object-defined error";
}

AutomationError::AutomationError(Long number, String source, String description, String helpFile, Long helpContext)
    : error_{number, std::move(source), std::move(description), std::move(helpFile), helpContext} {
  what_ = "error " + std::to_string(number) + ": " + ToUtf8(error_.description);
}

AutomationError AutomationError::Runtime(Long number) {
  return AutomationError(number, kRuntimeSource, RuntimeErrorText(number));
}

void RaiseRuntime(Long number) { throw AutomationError::Runtime(number); }

ErrObject ErrorFromCurrentException() {
  constexpr Long kUnexpected = static_cast<Long>(0x8000FFFFu);  // E_UNEXPECTED
  try {
    throw;
  } catch (const AutomationError& e) {
    return e.error();
  } catch (const std::bad_alloc&) {
    return AutomationError::Runtime(rt::kOutOfMemory).error();
  } catch (const std::length_error&) {
    return AutomationError::Runtime(rt::kOutOfMemory).error();
  } catch (const std::exception& e) {
    return ErrObject{kUnexpected, kRuntimeSource, FromUtf8(e.what()), u"", 0};
  } catch (...) {
    return ErrObject{kUnexpected, kRuntimeSource, u"Unexpected failure", u"", 0};
  }
}

Integer CheckedInteger(long long value) {
  if (value < std::numeric_limits<Integer>::min() || value > std::numeric_limits<Integer>::max())
    RaiseRuntime(rt::kOverflow);
  return static_cast<Integer>(value);
}

Long CheckedLong(long long value) {
  if (value < std::numeric_limits<Long>::min() || value > std::numeric_limits<Long>::max()) RaiseRuntime(rt::kOverflow);
  return static_cast<Long>(value);
}

std::string ToUtf8(const String& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    channel::AppendUtf8(out, c);
  }
  return out;
}

namespace {
// One decoder for both forms: strict stops at the first invalid sequence (overlong forms,
// surrogates and values past U+10FFFF included); lenient puts U+FFFD for it and goes on.
bool DecodeUtf8(std::string_view in, String& out, bool strict) {
  out.clear();
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const unsigned char b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    const channel::Utf8Sequence sequence = channel::DecodeUtf8At(in, i);
    if (sequence.length == 0) {
      if (strict) return false;
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    char32_t cp = sequence.code_point;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += sequence.length;
  }
  return true;
}
}  // namespace

String FromUtf8(std::string_view s) {
  String out;
  DecodeUtf8(s, out, false);
  return out;
}

std::optional<String> FromUtf8Strict(std::string_view s) {
  String out;
  if (!DecodeUtf8(s, out, true)) return std::nullopt;
  return out;
}

}  // namespace vx380
