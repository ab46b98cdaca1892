// device-gallery: shows the pieces of the device layer on the emulated
// screen: blits and stretches of a DIB section, text in colours and
// alignments, rectangles, a menu bar and a message box.
//
//   device-gallery [--screenshot FILE [--dialog] | --single-instance] [device options]
// With --screenshot the program draws everything, opens the message box,
// saves the screen as a PNG and ends; with --dialog it shows the dialog
// (every control kind) instead of the message box. The menu bar's fourth
// button opens that dialog. With --single-instance a gallery that
// already runs on the device is brought to the front instead (exit code 3).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/device/device.h"
#include "platform/screen/png.h"
#include "platform/screen/screen.h"
#include "platform/windows.h"

namespace {

constexpr UINT kShowBox = WM_USER + 1;
constexpr UINT kScreenshot = WM_USER + 2;
constexpr UINT kShowDialog = WM_USER + 3;
bool screenshotOfDialog = false;

// A dialog template in the device's binary format with every control kind.
class DialogTemplate {
 public:
  DialogTemplate() {
    put32(WS_POPUP | WS_CAPTION | DS_SETFONT);
    put32(WS_EX_CAPTIONOKBTN);
    put16(0);
    for (int v : {0, 0, 134, 124})
      put16(WORD(v));
    put16(0);
    put16(0);
    text(u"Select Host");
    put16(8);
    text(u"Tahoma");
    item(0x0082, SS_LEFT, 4, 6, 40, 10, 100, u"Host:");
    item(0x0085, CBS_DROPDOWN | WS_TABSTOP, 44, 4, 86, 12, 101, u"");
    item(0x0082, SS_LEFT, 4, 24, 40, 10, 102, u"User:");
    item(0x0081, ES_AUTOHSCROLL | WS_TABSTOP, 44, 22, 86, 12, 103, u"admin");
    item(0x0082, SS_LEFT, 4, 42, 40, 10, 104, u"Password:");
    item(0x0081, ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, 44, 40, 86, 12, 105, u"secret");
    item(0x0080, BS_AUTOCHECKBOX | WS_TABSTOP, 44, 58, 86, 12, 106, u"Guest login");
    item(0x0080, BS_PUSHBUTTON | WS_TABSTOP, 12, 96, 50, 14, IDOK, u"OK");
    item(0x0080, BS_PUSHBUTTON | WS_TABSTOP, 72, 96, 50, 14, IDCANCEL, u"Cancel");
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void item(WORD atom, DWORD style, int x, int y, int cx, int cy, WORD id, const char16_t* title) {
    while (words_.size() % 2 != 0)
      put16(0);
    put32(style | WS_CHILD | WS_VISIBLE);
    put32(0);
    for (int v : {x, y, cx, cy})
      put16(WORD(v));
    put16(id);
    put16(0xFFFF);
    put16(atom);
    text(title);
    put16(0);
    ++words_[4];
  }
  void put16(WORD w) { words_.push_back(w); }
  void put32(DWORD d) {
    put16(WORD(d & 0xFFFF));
    put16(WORD(d >> 16));
  }
  void text(const char16_t* t) {
    for (; *t != 0; ++t)
      put16(WORD(*t));
    put16(0);
  }
  std::vector<WORD> words_;
};

INT_PTR galleryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      for (const char16_t* host : {u"192.168.0.9:8080", u"recorder.local", u"gate"}) {
        SendDlgItemMessageW(dialog, 101, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(host));
      }
      SendDlgItemMessageW(dialog, 101, CB_SETCURSEL, 0, 0);
      CheckDlgButton(dialog, 106, BST_CHECKED);
      if (screenshotOfDialog)
        PostMessageW(GetParent(dialog) ? GetParent(dialog) : dialog, kScreenshot, 0, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
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
      if (LOWORD(wParam) == 40018) PostMessageW(hwnd, kShowDialog, 0, 0);
      return 0;
    case kShowDialog: {
      static const DialogTemplate dialog;
      DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.get(), hwnd, galleryDialogProc, 0);
      if (screenshotOfDialog) DestroyWindow(hwnd);
      return 0;
    }
    case kShowBox:
      if (!screenshotPath.empty()) PostMessageW(hwnd, kScreenshot, 0, 0);
      MessageBoxW(hwnd, u"The gallery's message box.", u"Gallery", MB_ICONINFORMATION);
      if (!screenshotPath.empty()) DestroyWindow(hwnd);
      return 0;
    case kScreenshot: {
      // Inside the message box's loop: paint everything, save, close it.
      for (HWND h : {hwnd, FindWindowW(u"menu_worker", nullptr), FindWindowW(u"HHTaskBar", nullptr),
                     FindWindowW(u"MessageBox", nullptr), FindWindowW(u"Dialog", nullptr)}) {
        if (h != nullptr) UpdateWindow(h);
        for (HWND c = h != nullptr ? GetWindow(h, GW_CHILD) : nullptr; c != nullptr;
             c = GetWindow(c, GW_HWNDNEXT)) {
          UpdateWindow(c);
          for (HWND g = GetWindow(c, GW_CHILD); g != nullptr; g = GetWindow(g, GW_HWNDNEXT))
            UpdateWindow(g);
        }
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
      if (HWND dialog = FindWindowW(u"Dialog", nullptr)) EndDialog(dialog, IDCANCEL);
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
    } else if (std::strcmp(argv[i], "--dialog") == 0) {
      screenshotOfDialog = true;
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
  if (!screenshotPath.empty())
    PostMessageW(hwnd, screenshotOfDialog ? kShowDialog : kShowBox, 0, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0))
    DispatchMessageW(&msg);
  zenta::platform::stopDevice();
  return int(msg.wParam);
}
