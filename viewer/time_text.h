// The server's time stamps (days since 1899-12-30, the time of day as the
// fraction) as the viewer shows them: "MM/DD hh:mm:ss" in the status line
// and "MMDDhhmmss" in snapshot names. The year is shown nowhere.
#pragma once

#include <array>

namespace zenta::viewer {

struct StampTexts {
  std::array<char16_t, 15> time{};  // 14 characters and a zero
  std::array<char, 11> stamp{};     // 10 characters and a zero
};

// Month and day are 0 for a day outside the calendar's range; a stamp that
// is no finite number counts as day 0 at midnight.
StampTexts formatStamp(double timestamp);

}  // namespace zenta::viewer
