// The server's clock as its messages carry it: local time as days since
// 1899-12-30 00:00, the time of day as the fraction.
#pragma once

#include <chrono>
#include <ctime>

namespace zenta::sim {

std::tm localTime(std::chrono::system_clock::time_point when);

// Days since 1899-12-30 of a local calendar date and time of day.
double daysSince1899(int year, int month, int day, double secondsOfDay);

// The time stamp of `when` in the server's local time.
double serverTimestamp(std::chrono::system_clock::time_point when);

}  // namespace zenta::sim
