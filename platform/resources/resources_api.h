// The device's resource calls: a module's resources by name and type, and
// bitmaps and icons made from them.
#pragma once

#include "platform/base/types.h"

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
