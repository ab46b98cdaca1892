// Handle types of the device's drawing interface, as the system's own code
// sees them: opaque pointers whose objects live inside the device layer.
#pragma once

#define ZENTA_DECLARE_HANDLE(name) \
  struct name##__;                 \
  using name = name##__*

ZENTA_DECLARE_HANDLE(HDC);
ZENTA_DECLARE_HANDLE(HBITMAP);
ZENTA_DECLARE_HANDLE(HWND);

#undef ZENTA_DECLARE_HANDLE
