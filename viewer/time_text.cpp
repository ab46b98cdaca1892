#include "viewer/time_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace zenta::viewer {

namespace {

// Month and day of the proleptic Gregorian date `days` after 1970-01-01.
void civilFromDays(int64_t days, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shifted = (5 * dayOfYear + 2) / 153;
  day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
  month = int(shifted < 10 ? shifted + 3 : shifted - 9);
}

}  // namespace

StampTexts formatStamp(double timestamp) {
  // Beyond what a 32-bit day count holds the stamp has no date; the
  // truncation itself would be undefined there.
  const bool usable = std::isfinite(timestamp) && std::fabs(timestamp) < 2147483647.0;
  const double whole = usable ? std::trunc(timestamp) : 0;
  const auto d = int64_t(whole);
  int month = 0, day = 0;
  if (usable && d + 693593 >= 0 && d + 693593 <= 2147483646) civilFromDays(d - 25569, month, day);
  const auto s = usable ? int64_t((timestamp - whole) * 86400) : 0;
  const int hour = int(s / 3600), minute = int(s % 3600 / 60), second = int(s % 60);

  StampTexts out;
  // A negative time of day prints minus signs; the texts keep their length.
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d %02d:%02d:%02d", month, day, hour, minute, second);
  for (size_t i = 0; i < 14 && text[i] != 0; ++i)
    out.time[i] = char16_t(text[i]);
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d", month, day, hour, minute, second);
  for (size_t i = 0; i < 10 && text[i] != 0; ++i)
    out.stamp[i] = text[i];
  return out;
}

}  // namespace zenta::viewer
