#include "core/VariantText.h"

#include <cmath>
#include <cstdio>

#include "core/TextFormat.h"
#include "vx380/Platform.h"

namespace vx380::core {

String DoubleText(double value) {
  if (value == 0) return u"0";
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%.15G", value);
  String out(buf, buf + n);
  const char16_t sep = CurrentPlatform().DecimalSeparator();
  for (auto& ch : out)
    if (ch == u'.') ch = sep;
  return out;
}

namespace {
String DateText(double oleDate) {
  // Days since 1899-12-30; the fraction is the time of day.
  long long days = static_cast<long long>(std::floor(oleDate));
  double frac = std::fabs(oleDate - static_cast<double>(days));
  long long secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    ++days;
  }
  // Civil date from days relative to 1970-01-01 (days since 1899-12-30 minus 25569).
  long long z = days - 25569 + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp + (mp < 10 ? 3 : -9);
  if (m <= 2) ++y;
  String text = Decimal(m) + u"/" + Decimal(d) + u"/" + Decimal(y);
  if (secs != 0) {
    long long h = secs / 3600, mi = secs / 60 % 60, s = secs % 60;
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, " %lld:%02lld:%02lld %s", h % 12 == 0 ? 12 : h % 12, mi, s,
                          h < 12 ? "AM" : "PM");
    text += String(buf, buf + n);
  }
  return text;
}
}  // namespace

String VariantToString(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Empty:
      return u"";
    case Variant::Kind::Boolean:
      return v.number() != 0 ? u"True" : u"False";
    case Variant::Kind::Integer:
    case Variant::Kind::Long:
      return Decimal(static_cast<long long>(v.number()));
    case Variant::Kind::Double:
      return DoubleText(v.number());
    case Variant::Kind::Date:
      return DateText(v.number());
    case Variant::Kind::String:
      return v.text();
    case Variant::Kind::Null:
      RaiseRuntime(rt::kInvalidUseOfNull);
    case Variant::Kind::Missing:
    case Variant::Kind::Object:
      break;
  }
  RaiseRuntime(rt::kTypeMismatch);
}

String ConcatText(const Variant& v) { return v.IsNull() ? String() : VariantToString(v); }

Object VariantToObject(const Variant& v) {
  if (v.kind() != Variant::Kind::Object) RaiseRuntime(rt::kTypeMismatch);
  return v.object();
}

}  // namespace vx380::core
