// Text in the device's system font, rendered by FreeType from DejaVu Sans
// without anti-aliasing, as the device draws it.
#pragma once

#include <string_view>

#include "platform/base/types.h"
#include "platform/gdi/gdi_api.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

inline constexpr int kSystemFontPixels = 12;

struct TextStyle {
  int pixelSize = kSystemFontPixels;
  COLORREF colour = 0;
  COLORREF background = RGB(255, 255, 255);
  bool opaque = true;
};

// Width and height of one line of text.
SIZE measureLine(std::u16string_view text, int pixelSize);
// Height of a line of the font.
int lineHeight(int pixelSize);

// DrawTextW's work on a surface: `rect` is in surface coordinates. Returns
// the height of the text; with DT_CALCRECT only measures, into `rect`.
int layoutText(Surface* dst, std::u16string_view text, RECT& rect, UINT format,
               const TextStyle& style, const ClipList& clip);

}  // namespace zenta::platform
