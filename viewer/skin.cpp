#include "viewer/skin.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/base/files.h"

namespace zenta::viewer {

namespace {

std::string narrow(const std::u16string& text) {
  std::string out;
  for (const char16_t c : text)
    out.push_back(c < 0x80 ? char(c) : '?');
  return out;
}

// A skin problem shows nothing on screen; it is said once on standard error
// so that whoever installed the program can find it.
void sayUnusable(const std::u16string& devicePath, const char* why) {
  std::fprintf(stderr, "zenta: skin file %s %s\n", narrow(devicePath).c_str(), why);
}

std::FILE* openDeviceFile(const std::u16string& devicePath) {
  const auto host = platform::hostPath(std::u16string_view(devicePath));
  return host ? std::fopen(host->c_str(), "rb") : nullptr;
}

// The whole file, at most `limit` bytes of it.
bool readAll(std::FILE* file, std::vector<uint8_t>& out, size_t limit) {
  uint8_t buffer[8192];
  for (size_t n; out.size() < limit && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    out.insert(out.end(), buffer, buffer + std::min(n, limit - out.size()));
  return std::ferror(file) == 0;
}

}  // namespace

SkinFiles skinFiles(HINSTANCE instance, int workAreaBottom) {
  char16_t module[100] = {};
  GetModuleFileNameW(instance, module, 100);
  std::u16string folder(module);
  folder.erase(std::min(folder.size(), folder.rfind(u'\\')));
  const bool shortScreen = workAreaBottom <= 240;
  const std::u16string stem = shortScreen ? u"\\skin24" : u"\\skin";
  return {folder + stem + u".ini", folder + stem + u".bmp", shortScreen};
}

void loadSkinLayout(SkinLayout& skin, const SkinFiles& files) {
  skin.shortScreen = files.shortScreen;
  std::FILE* file = openDeviceFile(files.text);
  if (file == nullptr) {
    sayUnusable(files.text, "cannot be opened; the skin has no buttons");
    return;
  }
  std::vector<uint8_t> bytes;
  // A few hundred integers at most mean anything; the rest is never read.
  const bool whole = readAll(file, bytes, 1 << 16);
  std::fclose(file);
  if (!whole) sayUnusable(files.text, "could not be read whole");
  readSkinText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
               files.shortScreen, skin);
}

void loadSkinBitmap(SkinLayout& skin, const SkinFiles& files, HDC windowDC) {
  uint8_t header[kSkinHeaderBytes];
  std::FILE* file = openDeviceFile(files.bitmap);
  const bool read = file != nullptr && std::fread(header, 1, sizeof header, file) == sizeof header;
  const auto info = read ? readSkinBitmapHeader(header, sizeof header) : std::nullopt;

  BITMAPINFO bmi{};
  if (info) {
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = info->width;
    bmi.bmiHeader.biHeight = info->height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = info->bitCount;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = info->imageSize;
  } else {
    // A black skin as large as the screen, so the window still comes up.
    HDC screen = GetDC(nullptr);
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = std::max(1, GetDeviceCaps(screen, HORZRES));
    bmi.bmiHeader.biHeight = std::max(1, GetDeviceCaps(screen, VERTRES));
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    ReleaseDC(nullptr, screen);
    sayUnusable(files.bitmap, file == nullptr ? "cannot be opened; the skin is black"
                                              : "is not a 24- or 16-bit bitmap without a colour "
                                                "table; the skin is black");
  }
  HDC screen = GetDC(nullptr);
  void* bits = nullptr;
  skin.skinBitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (info && bits != nullptr) {
    // Straight into the bitmap's memory, never more than it holds; a short
    // file leaves the rest black.
    BITMAP shape{};
    GetObjectW(skin.skinBitmap, sizeof shape, &shape);
    const size_t room = size_t(shape.bmWidthBytes) * size_t(std::abs(shape.bmHeight));
    const size_t got = std::fread(bits, 1, std::min(room, info->bytesToRead), file);
    if (got < std::min(room, info->bytesToRead)) sayUnusable(files.bitmap, "is short");
  }
  if (file != nullptr) std::fclose(file);

  HDC screenDC = GetDC(nullptr);
  skin.skinDC = CreateCompatibleDC(screenDC);
  ReleaseDC(nullptr, screenDC);
  if (skin.skinBitmap != nullptr) SelectObject(skin.skinDC, skin.skinBitmap);
  for (HDC dc : {windowDC, skin.skinDC}) {
    SetTextColor(dc, kStatusTextColour);
    SetBkColor(dc, kStatusBackColour);
  }
}

}  // namespace zenta::viewer
