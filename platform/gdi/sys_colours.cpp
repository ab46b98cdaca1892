// The system colours: the one table of the colours of screen elements that
// every painter of the device layer draws with.
#include <array>

#include "platform/gdi/gdi_api.h"

namespace {

constexpr std::array<COLORREF, 21> kColours = [] {
  std::array<COLORREF, 21> c{};
  c[COLOR_SCROLLBAR] = RGB(192, 192, 192);
  c[COLOR_ACTIVECAPTION] = RGB(0, 56, 132);
  c[COLOR_MENU] = RGB(206, 206, 206);
  c[COLOR_WINDOW] = RGB(255, 255, 255);
  c[COLOR_WINDOWFRAME] = RGB(0, 0, 0);
  c[COLOR_WINDOWTEXT] = RGB(0, 0, 0);
  c[COLOR_CAPTIONTEXT] = RGB(255, 255, 255);
  c[COLOR_HIGHLIGHT] = RGB(0, 0, 0);
  c[COLOR_HIGHLIGHTTEXT] = RGB(255, 255, 255);
  c[COLOR_BTNFACE] = RGB(192, 192, 192);
  c[COLOR_BTNSHADOW] = RGB(128, 128, 128);
  c[COLOR_GRAYTEXT] = RGB(128, 128, 128);
  c[COLOR_BTNTEXT] = RGB(0, 0, 0);
  c[COLOR_BTNHIGHLIGHT] = RGB(255, 255, 255);
  return c;
}();

}  // namespace

DWORD GetSysColor(int index) {
  return index >= 0 && size_t(index) < kColours.size() ? kColours[size_t(index)] : 0;
}
