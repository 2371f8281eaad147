// Date and time texts for the log banners, and the decimal separator.
#include "platform/posix/DateTimeText.h"

#include <langinfo.h>

#include <cstdio>
#include <cstring>

#include "platform/posix/PosixServices.h"

namespace vx380::posix {

namespace {

// The C locale's own formats ("03/05/21", "14:07:09") are nobody's; such users get en-US.
bool ReadsLikeC(locale_t locale) {
  return locale == nullptr || (std::strcmp(nl_langinfo_l(D_FMT, locale), "%m/%d/%y") == 0 &&
                               std::strcmp(nl_langinfo_l(T_FMT, locale), "%H:%M:%S") == 0);
}

std::string Strftime(const std::string& format, const std::tm& when, locale_t locale) {
  char buffer[256];
  const std::size_t n = strftime_l(buffer, sizeof buffer, format.c_str(), &when, locale);
  return std::string(buffer, n);
}

// The user's locale for one category, or null when the environment names none that exists.
class UserLocale {
 public:
  explicit UserLocale(int mask) : locale_(newlocale(mask, "", nullptr)) {}
  ~UserLocale() {
    if (locale_) freelocale(locale_);
  }
  UserLocale(const UserLocale&) = delete;
  UserLocale& operator=(const UserLocale&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

std::tm Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

std::string FormatDateText(const std::tm& when, locale_t locale) {
  if (ReadsLikeC(locale)) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d/%d/%d", when.tm_mon + 1, when.tm_mday, when.tm_year + 1900);
    return buffer;
  }
  // Short dates name the century, as Windows writes them.
  std::string format = nl_langinfo_l(D_FMT, locale);
  for (std::size_t at = format.find("%y"); at != std::string::npos; at = format.find("%y", at + 2))
    format[at + 1] = 'Y';
  return Strftime(format, when, locale);
}

std::string FormatTimeText(const std::tm& when, locale_t locale) {
  if (ReadsLikeC(locale)) {
    const int hour12 = when.tm_hour % 12 == 0 ? 12 : when.tm_hour % 12;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour12, when.tm_min, when.tm_sec,
                  when.tm_hour < 12 ? "AM" : "PM");
    return buffer;
  }
  return Strftime(nl_langinfo_l(T_FMT, locale), when, locale);
}

String PosixPlatform::CurrentDateText() {
  const UserLocale locale(LC_TIME_MASK);
  return FromUtf8(FormatDateText(Now(), locale.get()));
}

String PosixPlatform::CurrentTimeText() {
  const UserLocale locale(LC_TIME_MASK);
  return FromUtf8(FormatTimeText(Now(), locale.get()));
}

String PosixPlatform::CurrentDateTimeText() {
  const UserLocale locale(LC_TIME_MASK);
  const std::tm now = Now();
  return FromUtf8(FormatDateText(now, locale.get()) + " " + FormatTimeText(now, locale.get()));
}

char16_t PosixPlatform::DecimalSeparator() {
  const UserLocale locale(LC_NUMERIC_MASK);
  if (!locale.get()) return u'.';
  const String radix = FromUtf8(nl_langinfo_l(RADIXCHAR, locale.get()));
  return radix.empty() ? u'.' : radix.front();
}

}  // namespace vx380::posix
