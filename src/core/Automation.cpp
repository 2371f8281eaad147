// The thread's error object, raised errors and checked arithmetic.
#include "vx380/Automation.h"

#include <limits>

namespace vx380 {

ErrObject& Err() {
  thread_local ErrObject error;
  return error;
}

String RuntimeErrorText(Long number) {
  switch (number) {
    case 5: return u"Invalid procedure call or argument";
    case 6: return u"Overflow";
    case 7: return u"Out of memory";
    case 9: return u"Subscript out of range";
    case 13: return u"Type mismatch";
    case 52: return u"Bad file name or number";
    case 53: return u"File not found";
    case 61: return u"Disk full";
    case 70: return u"Permission denied";
    case 75: return u"Path/File access error";
    case 76: return u"Path not found";
    case 91: return u"Object variable or With block variable not set";
    case 94: return u"Invalid use of Null";
    case 438: return u"Object doesn't support this property or method";
    default: return u"Application-defined or object-defined error";
  }
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

String FromUtf8(const std::string& s) {
  String out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size()) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) { ok = false; break; }
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (!ok) { out += u'\xFFFD'; ++i; continue; }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace vx380
