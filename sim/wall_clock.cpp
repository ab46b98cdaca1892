#include "sim/wall_clock.h"

namespace zenta::sim {

std::tm localTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

double daysSince1899(int year, int month, int day, double secondsOfDay) {
  // Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long days = era * 146097 + dayOfEra - 719468;
  constexpr long kDays1899To1970 = 25569;
  return static_cast<double>(days + kDays1899To1970) + secondsOfDay / 86400.0;
}

double serverTimestamp(std::chrono::system_clock::time_point when) {
  const std::tm local = localTime(when);
  const auto sinceSecond =
      when - std::chrono::system_clock::from_time_t(std::chrono::system_clock::to_time_t(when));
  const double fraction = std::chrono::duration<double>(sinceSecond).count();
  return daysSince1899(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                       local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction);
}

}  // namespace zenta::sim
