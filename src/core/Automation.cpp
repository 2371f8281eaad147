// The thread's error object, raised errors and checked arithmetic.
#include "vx380/Automation.h"

#include <limits>
#include <new>
#include <stdexcept>
#include <optional>
#include <string_view>

namespace vx380 {

ErrObject& Err() {
  thread_local ErrObject error;
  return error;
}

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

AutomationError::AutomationError(Long number, String source, String description, String helpFile,
                                 Long helpContext)
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
  if (value < std::numeric_limits<Long>::min() || value > std::numeric_limits<Long>::max())
    RaiseRuntime(rt::kOverflow);
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
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
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
    int extra = 0;
    std::uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) extra = 1, cp = b & 0x1F, min = 0x80;
    else if ((b & 0xF0) == 0xE0) extra = 2, cp = b & 0x0F, min = 0x800;
    else if ((b & 0xF8) == 0xF0) extra = 3, cp = b & 0x07, min = 0x10000;
    bool valid = extra > 0 && i + extra < in.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(in[i + k]);
      valid = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    valid = valid && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!valid) {
      if (strict) return false;
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
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
