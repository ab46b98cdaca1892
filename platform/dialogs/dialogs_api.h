// The device's dialogs and message boxes.
#pragma once

#include "platform/base/types.h"

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

// Message boxes.
inline constexpr UINT MB_OK = 0x0, MB_ICONHAND = 0x10, MB_ICONERROR = MB_ICONHAND,
                      MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1, IDCANCEL = 2;
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
