// Date, time and number texts in the user's formats.
#include "Win32Platform.h"

namespace vx380::win32 {
namespace {

String Text(const wchar_t* buffer, int n) {
  return n > 0 ? FromWide(buffer, static_cast<std::size_t>(n - 1)) : String();
}

}  // namespace

String Win32Platform::CurrentDateText() {
  wchar_t buffer[128];
  return Text(buffer, ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer, 128));
}

String Win32Platform::CurrentTimeText() {
  wchar_t buffer[128];
  return Text(buffer, ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buffer, 128));
}

String Win32Platform::CurrentDateTimeText() { return CurrentDateText() + u" " + CurrentTimeText(); }

char16_t Win32Platform::DecimalSeparator() {
  wchar_t buffer[8];
  int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8);
  return n > 1 ? static_cast<char16_t>(buffer[0]) : u'.';
}

}  // namespace vx380::win32
