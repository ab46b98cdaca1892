// The device's standard controls (buttons, edit fields, static texts and
// combo boxes): their styles, messages and notifications, and the colour
// messages they send their parents.
#pragma once

#include "platform/base/types.h"

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
// What a control's WM_GETDLGCODE answers: keys it takes from the dialog.
inline constexpr LRESULT DLGC_WANTALLKEYS = 0x0004;
inline constexpr UINT WM_NEXTDLGCTL = 0x0028, WM_VKEYTOITEM = 0x002E, WM_CHARTOITEM = 0x002F,
                      WM_QUERYDRAGICON = 0x0037, WM_COMPAREITEM = 0x0039,
                      WM_CTLCOLORMSGBOX = 0x0132, WM_CTLCOLOREDIT = 0x0133,
                      WM_CTLCOLORLISTBOX = 0x0134, WM_CTLCOLORBTN = 0x0135, WM_CTLCOLORDLG = 0x0136,
                      WM_CTLCOLORSCROLLBAR = 0x0137, WM_CTLCOLORSTATIC = 0x0138;

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
