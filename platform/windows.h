// The device's programming interface as the system's own code calls it: the
// subset of the window manager, the drawing interface and the shell that the
// viewer uses, with the device's names, types and constants. 16-bit text is
// char16_t; handles and LONG_PTR are wide enough for pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handles.h"

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using LONG = int32_t;
using INT = int;
using WCHAR = char16_t;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using LPVOID = void*;
using LONG_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using INT_PTR = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using COLORREF = DWORD;
using ATOM = WORD;
using HANDLE = void*;
using HGDIOBJ = void*;

#define ZENTA_DEVICE_HANDLE(name) \
  struct name##__;                \
  using name = name##__*
ZENTA_DEVICE_HANDLE(HBRUSH);
ZENTA_DEVICE_HANDLE(HPEN);
ZENTA_DEVICE_HANDLE(HFONT);
ZENTA_DEVICE_HANDLE(HINSTANCE);
ZENTA_DEVICE_HANDLE(HMENU);
ZENTA_DEVICE_HANDLE(HICON);
ZENTA_DEVICE_HANDLE(HCURSOR);
ZENTA_DEVICE_HANDLE(HRSRC);
ZENTA_DEVICE_HANDLE(HGLOBAL);
ZENTA_DEVICE_HANDLE(HACCEL);
ZENTA_DEVICE_HANDLE(HKEY);
#undef ZENTA_DEVICE_HANDLE
using HMODULE = HINSTANCE;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

struct RECT {
  LONG left, top, right, bottom;
};
struct POINT {
  LONG x, y;
};
struct SIZE {
  LONG cx, cy;
};

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};

struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy, cx, y, x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};
using CREATESTRUCT = CREATESTRUCTW;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
struct RGBQUAD {
  BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

// Colours: 0x00BBGGRR.
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return COLORREF(r) | COLORREF(g) << 8 | COLORREF(b) << 16;
}
constexpr BYTE GetRValue(COLORREF c) {
  return BYTE(c);
}
constexpr BYTE GetGValue(COLORREF c) {
  return BYTE(c >> 8);
}
constexpr BYTE GetBValue(COLORREF c) {
  return BYTE(c >> 16);
}
constexpr WORD LOWORD(uintptr_t v) {
  return WORD(v & 0xFFFF);
}
constexpr WORD HIWORD(uintptr_t v) {
  return WORD((v >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
  return LPARAM(DWORD(low) | DWORD(high) << 16);
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return WPARAM(DWORD(low) | DWORD(high) << 16);
}
inline LPCWSTR MAKEINTRESOURCEW(uintptr_t id) {
  return reinterpret_cast<LPCWSTR>(id);
}
inline bool IS_INTRESOURCE(LPCWSTR p) {
  return (reinterpret_cast<uintptr_t>(p) >> 16) == 0;
}

// Messages.
inline constexpr UINT WM_NULL = 0x0000, WM_CREATE = 0x0001, WM_DESTROY = 0x0002, WM_MOVE = 0x0003,
                      WM_SIZE = 0x0005, WM_ACTIVATE = 0x0006, WM_SETFOCUS = 0x0007,
                      WM_KILLFOCUS = 0x0008, WM_ENABLE = 0x000A, WM_SETTEXT = 0x000C,
                      WM_GETTEXT = 0x000D, WM_GETTEXTLENGTH = 0x000E, WM_PAINT = 0x000F,
                      WM_CLOSE = 0x0010, WM_QUIT = 0x0012, WM_ERASEBKGND = 0x0014,
                      WM_SHOWWINDOW = 0x0018, WM_SETTINGCHANGE = 0x001A, WM_SETFONT = 0x0030,
                      WM_GETFONT = 0x0031, WM_NOTIFY = 0x004E, WM_SETICON = 0x0080,
                      WM_KEYDOWN = 0x0100, WM_KEYUP = 0x0101, WM_CHAR = 0x0102,
                      WM_INITDIALOG = 0x0110, WM_COMMAND = 0x0111, WM_TIMER = 0x0113,
                      WM_MOUSEMOVE = 0x0200, WM_LBUTTONDOWN = 0x0201, WM_LBUTTONUP = 0x0202,
                      WM_LBUTTONDBLCLK = 0x0203, WM_USER = 0x0400;
inline constexpr UINT PM_NOREMOVE = 0, PM_REMOVE = 1;
inline constexpr WPARAM MK_LBUTTON = 1;

// Window styles.
inline constexpr DWORD WS_OVERLAPPED = 0, WS_POPUP = 0x80000000, WS_CHILD = 0x40000000,
                       WS_VISIBLE = 0x10000000, WS_DISABLED = 0x08000000,
                       WS_CLIPSIBLINGS = 0x04000000, WS_CLIPCHILDREN = 0x02000000,
                       WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_DLGFRAME = 0x00400000,
                       WS_VSCROLL = 0x00200000, WS_HSCROLL = 0x00100000, WS_SYSMENU = 0x00080000,
                       WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_EX_CAPTIONOKBTN = 0x80000000, WS_EX_TOPMOST = 0x00000008,
                       WS_EX_NOACTIVATE = 0x08000000, WS_EX_DLGMODALFRAME = 0x00000001,
                       WS_EX_WINDOWEDGE = 0x00000100, WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr UINT CS_VREDRAW = 0x0001, CS_HREDRAW = 0x0002, CS_DBLCLKS = 0x0008,
                      CS_GLOBALCLASS = 0x4000;
inline constexpr int CW_USEDEFAULT = int(0x80000000);

// Window slots.
inline constexpr int GWL_WNDPROC = -4, GWL_HINSTANCE = -6, GWL_HWNDPARENT = -8, GWL_ID = -12,
                     GWL_STYLE = -16, GWL_EXSTYLE = -20, GWL_USERDATA = -21;
inline constexpr UINT GW_HWNDFIRST = 0, GW_HWNDLAST = 1, GW_HWNDNEXT = 2, GW_HWNDPREV = 3,
                      GW_OWNER = 4, GW_CHILD = 5;
inline constexpr int SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOW = 5, SW_SHOWNA = 8;
inline constexpr UINT SWP_NOSIZE = 0x0001, SWP_NOMOVE = 0x0002, SWP_NOZORDER = 0x0004,
                      SWP_NOACTIVATE = 0x0010, SWP_SHOWWINDOW = 0x0040, SWP_HIDEWINDOW = 0x0080;
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(intptr_t(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(intptr_t(-2));
inline constexpr UINT SPI_GETWORKAREA = 0x0030;

// Drawing.
inline constexpr DWORD SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086;
inline constexpr int WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3,
                     BLACK_BRUSH = 4, NULL_BRUSH = 5, HOLLOW_BRUSH = NULL_BRUSH, WHITE_PEN = 6,
                     BLACK_PEN = 7, NULL_PEN = 8, SYSTEM_FONT = 13;
inline constexpr int HORZRES = 8, VERTRES = 10, BITSPIXEL = 12;
inline constexpr int TRANSPARENT = 1, OPAQUE = 2;
inline constexpr UINT DT_TOP = 0x0000, DT_LEFT = 0x0000, DT_CENTER = 0x0001, DT_RIGHT = 0x0002,
                      DT_VCENTER = 0x0004, DT_BOTTOM = 0x0008, DT_SINGLELINE = 0x0020,
                      DT_NOCLIP = 0x0100, DT_CALCRECT = 0x0400;
inline constexpr DWORD BI_RGB = 0, BI_BITFIELDS = 3;
inline constexpr UINT DIB_RGB_COLORS = 0;
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// Window manager.
ATOM RegisterClassW(const WNDCLASSW* wc);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR className, WNDCLASSW* wc);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsWindowEnabled(HWND hwnd);
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR GetWindowLongW(HWND hwnd, int index);
LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value);
HWND GetWindow(HWND hwnd, UINT relation);
HWND GetParent(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int command);
BOOL UpdateWindow(HWND hwnd);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int width, int height, UINT flags);
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL GetClientRect(HWND hwnd, RECT* rect);
int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count);
BOOL ClientToScreen(HWND hwnd, POINT* point);
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL EnableWindow(HWND hwnd, BOOL enable);
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
int GetWindowTextW(HWND hwnd, LPWSTR buffer, int size);
int GetWindowTextLengthW(HWND hwnd);
HWND GetActiveWindow();
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND hwnd);
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
BOOL SystemParametersInfoW(UINT action, UINT param, LPVOID data, UINT winIni);
HMODULE GetModuleHandleW(LPCWSTR name);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

// Messages.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT first, UINT last);
BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* msg);
// With no accelerator table nothing is translated.
int TranslateAcceleratorW(HWND hwnd, HACCEL table, MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Painting.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase);
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);

// Drawing.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int object);
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);
int GetDeviceCaps(HDC hdc, int index);
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
HBRUSH CreateSolidBrush(COLORREF colour);
HPEN CreatePen(int style, int width, COLORREF colour);
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop);
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF colour);
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetTextColor(HDC hdc, COLORREF colour);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF colour);
int SetBkMode(HDC hdc, int mode);
int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT* rect, UINT format);
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size);

// Rectangles.
BOOL SetRect(RECT* rect, int left, int top, int right, int bottom);
BOOL SetRectEmpty(RECT* rect);
BOOL IsRectEmpty(const RECT* rect);
BOOL PtInRect(const RECT* rect, POINT point);
BOOL IntersectRect(RECT* out, const RECT* a, const RECT* b);
BOOL UnionRect(RECT* out, const RECT* a, const RECT* b);
BOOL OffsetRect(RECT* rect, int dx, int dy);
BOOL InflateRect(RECT* rect, int dx, int dy);

// Resources.
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_RCDATA MAKEINTRESOURCEW(10)
inline constexpr UINT IMAGE_BITMAP = 0, IMAGE_ICON = 1;
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Bitmap resources (1-, 4- and 8-bit palettised, 16-, 24- and 32-bit) load
// as 24-bit DIB sections.
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);
// IMAGE_BITMAP as LoadBitmapW; IMAGE_ICON picks the icon image of the size
// asked (an .ico resource) and makes it 24-bit.
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height, UINT flags);
BOOL DestroyIcon(HICON icon);

// Message boxes.
inline constexpr UINT MB_OK = 0x0, MB_ICONHAND = 0x10, MB_ICONERROR = MB_ICONHAND,
                      MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1, IDCANCEL = 2;
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Pocket PC shell and common controls.
struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
  COLORREF clrBk;
};
BOOL SHCreateMenuBar(SHMENUBARINFO* info);
BOOL CommandBar_Show(HWND bar, BOOL show);
inline constexpr DWORD SHFS_SHOWTASKBAR = 0x1, SHFS_HIDETASKBAR = 0x2, SHFS_SHOWSIPBUTTON = 0x4,
                       SHFS_HIDESIPBUTTON = 0x8, SHFS_SHOWSTARTICON = 0x10,
                       SHFS_HIDESTARTICON = 0x20;
BOOL SHFullScreen(HWND hwnd, DWORD state);
struct SIPINFO {
  DWORD cbSize;
  DWORD fdwFlags;
  RECT rcVisibleDesktop;
  RECT rcSipRect;
  DWORD dwImDataSize;
  void* pvImData;
};
inline constexpr UINT SPI_GETSIPINFO = 225;
inline constexpr DWORD SIPF_ON = 0x1;
BOOL SHSipInfo(UINT action, UINT param, void* data, UINT winIni);
enum SIPSTATE { SIP_UP = 0, SIP_DOWN, SIP_FORCEDOWN, SIP_UNCHANGED, SIP_INPUTDIALOG };
BOOL SHSipPreference(HWND hwnd, SIPSTATE state);
struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);

// Files. Device paths: "\Program\NAME" is the program's own folder (where
// its executable is), any other rooted or relative path lies under the
// device root (the current folder unless the launcher option
// --device-root=DIR says otherwise). ".." is refused.
struct SECURITY_ATTRIBUTES;
inline constexpr DWORD ERROR_SUCCESS = 0, ERROR_FILE_NOT_FOUND = 2, ERROR_PATH_NOT_FOUND = 3,
                       ERROR_ACCESS_DENIED = 5, ERROR_INVALID_NAME = 123,
                       ERROR_ALREADY_EXISTS = 183;
BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* attributes);
DWORD GetLastError();
void SetLastError(DWORD error);

// Registry.
using REGSAM = DWORD;
struct FILETIME {
  DWORD dwLowDateTime, dwHighDateTime;
};
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});
inline constexpr DWORD REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4,
                       REG_MULTI_SZ = 7;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1, REG_OPENED_EXISTING_KEY = 2;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x1, KEY_SET_VALUE = 0x2, KEY_ENUMERATE_SUB_KEYS = 0x8,
                        KEY_READ = 0x20019, KEY_WRITE = 0x20006, KEY_ALL_ACCESS = 0xF003F;
inline constexpr LONG ERROR_INVALID_HANDLE = 6, ERROR_INVALID_PARAMETER = 87, ERROR_MORE_DATA = 234,
                      ERROR_NO_MORE_ITEMS = 259;
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                     REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result,
                     DWORD* disposition);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameSize, DWORD* reserved,
                   LPWSTR className, DWORD* classSize, FILETIME* lastWrite);
// Deletes the key with everything below it.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);

// Dialogs.
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
#pragma pack(push, 2)
struct DLGTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x, y, cx, cy;
};
struct DLGITEMTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  short x, y, cx, cy;
  WORD id;
};
#pragma pack(pop)
inline constexpr DWORD DS_SETFONT = 0x40, DS_MODALFRAME = 0x80, DS_CENTER = 0x0800;
// Window slots of dialogs, pointer-sized.
inline constexpr int DWL_MSGRESULT = 0, DWL_DLGPROC = int(sizeof(LONG_PTR)),
                     DWL_USER = int(2 * sizeof(LONG_PTR));
inline constexpr UINT WM_NEXTDLGCTL = 0x0028, WM_VKEYTOITEM = 0x002E, WM_CHARTOITEM = 0x002F,
                      WM_QUERYDRAGICON = 0x0037, WM_COMPAREITEM = 0x0039,
                      WM_CTLCOLORMSGBOX = 0x0132, WM_CTLCOLOREDIT = 0x0133,
                      WM_CTLCOLORLISTBOX = 0x0134, WM_CTLCOLORBTN = 0x0135, WM_CTLCOLORDLG = 0x0136,
                      WM_CTLCOLORSCROLLBAR = 0x0137, WM_CTLCOLORSTATIC = 0x0138;
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialog, HWND owner,
                                DLGPROC proc, LPARAM init);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);

// Controls.
inline constexpr DWORD SS_LEFT = 0x0, SS_CENTER = 0x1, SS_RIGHT = 0x2, SS_NOTIFY = 0x100;
inline constexpr DWORD BS_PUSHBUTTON = 0x0, BS_DEFPUSHBUTTON = 0x1, BS_CHECKBOX = 0x2,
                       BS_AUTOCHECKBOX = 0x3, BS_TYPEMASK = 0xF, BS_NOTIFY = 0x4000;
inline constexpr DWORD ES_LEFT = 0x0, ES_PASSWORD = 0x20, ES_AUTOHSCROLL = 0x80;
inline constexpr DWORD CBS_DROPDOWN = 0x2, CBS_AUTOHSCROLL = 0x40;
inline constexpr UINT BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1, BST_UNCHECKED = 0,
                      BST_CHECKED = 1;
inline constexpr WORD BN_CLICKED = 0, EN_CHANGE = 0x0300, EN_SETFOCUS = 0x0100,
                      EN_KILLFOCUS = 0x0200;
inline constexpr UINT EM_LIMITTEXT = 0x00C5, EM_SETSEL = 0x00B1, EM_GETSEL = 0x00B0;
inline constexpr UINT CB_GETEDITSEL = 0x0140, CB_LIMITTEXT = 0x0141, CB_SETEDITSEL = 0x0142,
                      CB_ADDSTRING = 0x0143, CB_DELETESTRING = 0x0144, CB_GETCOUNT = 0x0146,
                      CB_GETCURSEL = 0x0147, CB_GETLBTEXT = 0x0148, CB_GETLBTEXTLEN = 0x0149,
                      CB_INSERTSTRING = 0x014A, CB_RESETCONTENT = 0x014B, CB_FINDSTRING = 0x014C,
                      CB_SELECTSTRING = 0x014D, CB_SETCURSEL = 0x014E, CB_SHOWDROPDOWN = 0x014F,
                      CB_FINDSTRINGEXACT = 0x0158, CB_GETDROPPEDSTATE = 0x0157;
inline constexpr LRESULT CB_ERR = -1, CB_ERRSPACE = -2;
inline constexpr WORD CBN_SELCHANGE = 1, CBN_DBLCLK = 2, CBN_SETFOCUS = 3, CBN_KILLFOCUS = 4,
                      CBN_EDITCHANGE = 5, CBN_EDITUPDATE = 6, CBN_DROPDOWN = 7, CBN_CLOSEUP = 8;
inline constexpr UINT VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                      VK_ESCAPE = 0x1B, VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26,
                      VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_DELETE = 0x2E;
