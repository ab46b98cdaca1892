// device-gallery: shows the pieces of the device layer on the emulated
// screen: blits and stretches of a DIB section, text in colours and
// alignments, rectangles, a menu bar and a message box.
//
//   device-gallery [--screenshot FILE | --single-instance] [device options: --headless, ...]
// With --screenshot the program draws everything, opens the message box,
// saves the screen as a PNG and ends. With --single-instance a gallery that
// already runs on the device is brought to the front instead (exit code 3).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/device.h"
#include "platform/png.h"
#include "platform/screen.h"
#include "platform/windows.h"

namespace {

constexpr UINT kShowBox = WM_USER + 1;
constexpr UINT kScreenshot = WM_USER + 2;
std::string screenshotPath;
int exitCode = 0;
HBITMAP pattern = nullptr;
HDC patternDC = nullptr;

// A 64 x 48 24-bit pattern: colour ramps and a white diagonal.
void makePattern() {
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{40, 64, 48, 1, 24, BI_RGB, 0, 3780, 3780, 0, 0};
  void* bits = nullptr;
  pattern = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  patternDC = CreateCompatibleDC(nullptr);
  SelectObject(patternDC, pattern);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const COLORREF c =
          (x == y + 8) ? RGB(255, 255, 255) : RGB(BYTE(x * 4), BYTE(y * 5), BYTE(255 - x * 4));
      SetPixel(patternDC, x, y, c);
    }
  }
}

void paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  BitBlt(dc, 4, 4, 64, 48, patternDC, 0, 0, SRCCOPY);
  StretchBlt(dc, 72, 4, 96, 72, patternDC, 0, 0, 64, 48, SRCCOPY);
  StretchBlt(dc, 172, 4, 32, 24, patternDC, 0, 0, 64, 48, SRCCOPY);
  StretchBlt(dc, 172 + 32, 28, -32, 24, patternDC, 0, 0, 64, 48, SRCCOPY);  // mirrored
  HBRUSH grey = CreateSolidBrush(RGB(64, 0, 64));
  RECT under{4, 56, 68, 76};
  FillRect(dc, &under, grey);
  DeleteObject(grey);
  BitBlt(dc, 4, 56, 64, 20, patternDC, 0, 0, SRCPAINT);

  struct Line {
    const char16_t* text;
    COLORREF colour, back;
    UINT format;
    int mode;
  };
  const Line lines[] = {
      {u"Left, opaque", RGB(0, 0, 0), RGB(255, 255, 160), DT_LEFT, OPAQUE},
      {u"Centred, green", RGB(0, 160, 0), RGB(255, 255, 255), DT_CENTER, TRANSPARENT},
      {u"Right, white on blue", RGB(255, 255, 255), RGB(0, 0, 200), DT_RIGHT, OPAQUE},
      {u"03/15 12:00:00", RGB(0, 255, 0), RGB(0, 0, 0), DT_LEFT, OPAQUE},
  };
  int y = 84;
  for (const Line& line : lines) {
    RECT r{4, y, client.right - 4, y + 18};
    SetTextColor(dc, line.colour);
    SetBkColor(dc, line.back);
    SetBkMode(dc, line.mode);
    DrawTextW(dc, line.text, -1, &r, line.format | DT_VCENTER | DT_SINGLELINE);
    y += 20;
  }
  SetBkMode(dc, OPAQUE);
  HBRUSH fill = CreateSolidBrush(RGB(255, 200, 0));
  SelectObject(dc, fill);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, 4, y + 4, 100, y + 40);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(fill);
  RECT clipped{110, y + 4, 150, y + 24};
  SetTextColor(dc, RGB(200, 0, 0));
  DrawTextW(dc, u"Clipped to a small box", -1, &clipped, DT_LEFT | DT_SINGLELINE);
  EndPaint(hwnd, &ps);
}

LRESULT galleryProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paint(hwnd);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == 40004) DestroyWindow(hwnd);
      if (LOWORD(wParam) == 40024) PostMessageW(hwnd, kShowBox, 0, 0);
      return 0;
    case kShowBox:
      if (!screenshotPath.empty()) PostMessageW(hwnd, kScreenshot, 0, 0);
      MessageBoxW(hwnd, u"The gallery's message box.", u"Gallery", MB_ICONINFORMATION);
      if (!screenshotPath.empty()) DestroyWindow(hwnd);
      return 0;
    case kScreenshot: {
      // Inside the message box's loop: paint everything, save, close it.
      for (HWND h : {hwnd, FindWindowW(u"menu_worker", nullptr), FindWindowW(u"HHTaskBar", nullptr),
                     FindWindowW(u"MessageBox", nullptr)}) {
        if (h != nullptr) UpdateWindow(h);
      }
      zenta::platform::Surface& screen = zenta::platform::screen();
      bool saved = false;
      {
        std::lock_guard guard(screen.lock());
        saved = zenta::platform::savePng(screen, screenshotPath);
      }
      if (!saved) {
        std::fprintf(stderr, "device-gallery: cannot write %s\n", screenshotPath.c_str());
        exitCode = 1;
      }
      if (HWND box = FindWindowW(u"MessageBox", nullptr)) PostMessageW(box, WM_CLOSE, 0, 0);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(exitCode);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  zenta::platform::DeviceOptions options;
  std::string error;
  if (!zenta::platform::takeDeviceOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "device-gallery: %s\n", error.c_str());
    return 2;
  }
  bool singleInstance = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--single-instance") == 0) {
      singleInstance = true;
    } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
      screenshotPath = argv[++i];
    } else {
      std::fprintf(stderr, "device-gallery: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  zenta::platform::startDevice(options);
  if (singleInstance) {
    if (HWND running = FindWindowW(u"Gallery", u"Device gallery")) {
      const bool front = SetForegroundWindow(running) != FALSE;
      std::printf("device-gallery: already running%s\n", front ? ", brought to the front" : "");
      zenta::platform::stopDevice();
      return 3;
    }
  }
  makePattern();
  WNDCLASSW wc{};
  wc.lpfnWndProc = galleryProc;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = u"Gallery";
  RegisterClassW(&wc);
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HWND hwnd = CreateWindowExW(0, u"Gallery", u"Device gallery", WS_VISIBLE, 0, work.top, work.right,
                              work.bottom - work.top - zenta::platform::kMenuBarHeight, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof bar;
  bar.hwndParent = hwnd;
  bar.nToolBarId = 134;
  bar.hInstRes = GetModuleHandleW(nullptr);
  bar.nBmpId = 137;
  bar.cBmpImages = 5;
  if (!SHCreateMenuBar(&bar)) std::fprintf(stderr, "device-gallery: no menu bar\n");
  if (!screenshotPath.empty()) PostMessageW(hwnd, kShowBox, 0, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0))
    DispatchMessageW(&msg);
  zenta::platform::stopDevice();
  return int(msg.wParam);
}
