// The device's basic types as the system's own code sees them: integers,
// handles (wide enough for pointers), the shared structures, colours and
// the word and resource-name macros. 16-bit text is char16_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include "platform/base/handles.h"

#include "platform/base/handles.h"

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using SHORT = int16_t;
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

// Raster operations of blits and stretches, and the colour value of none.
inline constexpr DWORD SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086;
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

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

// Security attributes (never used) and the device's error numbers.
struct SECURITY_ATTRIBUTES;
inline constexpr DWORD ERROR_SUCCESS = 0, ERROR_FILE_NOT_FOUND = 2, ERROR_PATH_NOT_FOUND = 3,
                       ERROR_ACCESS_DENIED = 5, ERROR_INVALID_NAME = 123,
                       ERROR_ALREADY_EXISTS = 183;
