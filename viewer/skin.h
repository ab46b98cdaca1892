// The loaded skin: the bitmap that is the window's background with every
// button drawn on it, and the records and rectangles of its text file.
// Loaded once while the main window is created, never again.
#pragma once

#include <string>

#include "platform/windows.h"
#include "viewer/skin_file.h"

namespace zenta::viewer {

inline constexpr COLORREF kStatusTextColour = RGB(0, 255, 0);
inline constexpr COLORREF kStatusBackColour = RGB(0, 0, 0);

struct SkinLayout : SkinGeometry {
  HDC skinDC = nullptr;
  HBITMAP skinBitmap = nullptr;
  // The variant in use: the short-screen one carries its layout values.
  bool shortScreen = false;
};

// The skin's device paths for a work area whose bottom edge is
// `workAreaBottom`: "\skin.ini" and "\skin.bmp" in the program's folder, or
// "\skin24.ini" and "\skin24.bmp" on screens 240 lines high or less.
struct SkinFiles {
  std::u16string text, bitmap;
  bool shortScreen;
};
SkinFiles skinFiles(HINSTANCE instance, int workAreaBottom);

// Reads the text file into the records (and, for the short screen, the
// layout values). A file that cannot be read leaves every value as it was.
void loadSkinLayout(SkinLayout& skin, const SkinFiles& files);

// Reads the bitmap into a new skinDC and sets the status colours on it and
// on `windowDC`. A file that cannot be used gives a black skin the size of
// the screen.
void loadSkinBitmap(SkinLayout& skin, const SkinFiles& files, HDC windowDC);

}  // namespace zenta::viewer
