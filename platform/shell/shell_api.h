// The device's shell: menu bars, full-screen switching and the input
// panel.
#pragma once

#include "platform/base/types.h"

// The shell.
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
// Sent to a menu bar: wParam a button's command, lParam nonzero to show it
// held down (a mode that is on), zero to let it up. TB_ISBUTTONCHECKED
// answers whether it is held.
inline constexpr UINT TB_CHECKBUTTON = 0x0402, TB_ISBUTTONCHECKED = 0x040A;
BOOL CommandBar_Show(HWND bar, BOOL show);
// Names for a menu bar's buttons, one a button in their order: a mouse that
// rests on a button shows its name beside it (a touch screen never does).
BOOL CommandBar_AddToolTips(HWND bar, UINT count, const LPCWSTR* tips);
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
