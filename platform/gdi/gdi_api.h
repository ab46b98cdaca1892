// The device's drawing calls: device contexts, bitmaps, brushes and pens,
// blits and stretches, text, rectangles and the system colours.
#pragma once

#include "platform/base/types.h"

// Drawing.
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

// System colours.
inline constexpr int COLOR_BTNFACE = 15, COLOR_BTNSHADOW = 16, COLOR_BTNTEXT = 18,
                     COLOR_BTNHIGHLIGHT = 20, COLOR_WINDOW = 5, COLOR_WINDOWTEXT = 8,
                     COLOR_WINDOWFRAME = 6, COLOR_ACTIVECAPTION = 2, COLOR_CAPTIONTEXT = 9,
                     COLOR_HIGHLIGHT = 13, COLOR_HIGHLIGHTTEXT = 14, COLOR_GRAYTEXT = 17,
                     COLOR_SCROLLBAR = 0, COLOR_MENU = 4;
// The device's colour of a screen element; black for a number it does not
// know.
DWORD GetSysColor(int index);
