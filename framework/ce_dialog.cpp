#include "framework/ce_dialog.h"

#include "framework/ce_app.h"

namespace zenta::framework {

namespace {

bool returnsDirectly(UINT message) {
  return message == WM_VKEYTOITEM || message == WM_CHARTOITEM || message == WM_QUERYDRAGICON ||
         message == WM_COMPAREITEM || message == WM_INITDIALOG ||
         (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC);
}

bool isChild(HWND hwnd) {
  return (DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & WS_CHILD) != 0;
}

}  // namespace

CeDialog::~CeDialog() {
  if (hwnd != nullptr && IsWindow(hwnd) && DestroyWindow(hwnd)) hwnd = nullptr;
}

void CeDialog::onCancel() {
  if (modal) EndDialog(hwnd, IDCANCEL);
}

void CeDialog::onOK() {
  if (modal) EndDialog(hwnd, IDOK);
}

LRESULT CeDialog::onInitDialog() {
  if (modal) centerWindow(nullptr);
  return 1;
}

LRESULT CeDialog::defaultProcessing() {
  if (previousProc == nullptr) return 0;
  const CurrentMessage& m = currentMessage;
  return CallWindowProcW(previousProc, m.hwnd, m.message, m.wParam, m.lParam);
}

LRESULT CeDialog::processMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = false;
  if (message == WM_INITDIALOG) {
    handled = true;
    return onInitDialog();
  }
  if (message == WM_COMMAND) {
    const WORD id = LOWORD(wParam);
    if (id == IDOK) {
      onOK();
      handled = true;
      return 0;
    }
    if (id == IDCANCEL) {
      onCancel();
      handled = true;
      return 0;
    }
    if (id == 0xFFFF) {
      // A control without an id of its own (a label): the focus moves on to
      // the control after it.
      if (HIWORD(wParam) == 0) {
        if (const HWND next = GetWindow(reinterpret_cast<HWND>(lParam), GW_HWNDNEXT)) {
          SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), 1);
        }
      }
      handled = true;
      return 0;
    }
    onCommand(wParam, lParam, handled);
    return 0;
  }
  return route(message, wParam, lParam, handled);
}

INT_PTR CeDialog::doModal(UINT id, HWND owner, HINSTANCE instance) {
  if (id == 0) id = templateId;
  modal = true;
  if (instance == nullptr) instance = GetModuleHandleW(nullptr);
  if (owner == nullptr) {
    owner = defaultOwnerWindow();
  } else if (isChild(owner)) {
    // The top-level window above a child: parents while they are children,
    // then owners.
    HWND top = owner;
    for (HWND next = owner; next != nullptr;) {
      top = next;
      next = isChild(next) ? GetParent(next) : GetWindow(next, GW_OWNER);
    }
    owner = top;
  }
  const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_DIALOG);
  const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(instance, found)));
  if (dialog == nullptr) return -1;
  return DialogBoxIndirectParamW(instance, dialog, owner, dialogProc,
                                 reinterpret_cast<LPARAM>(this));
}

void CeDialog::centerWindow(HWND centreOn) {
  const bool child = isChild(hwnd);
  if (centreOn == nullptr) centreOn = child ? GetParent(hwnd) : GetWindow(hwnd, GW_OWNER);
  RECT dialog;
  GetWindowRect(hwnd, &dialog);
  const int width = dialog.right - dialog.left, height = dialog.bottom - dialog.top;
  RECT area{}, centre{};
  if (!child) {
    if (centreOn != nullptr && !IsWindowVisible(centreOn)) centreOn = nullptr;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    if (centreOn != nullptr) {
      GetWindowRect(centreOn, &centre);
    } else {
      centre = area;
    }
  } else {
    const HWND parent = GetParent(hwnd);
    GetClientRect(parent, &area);
    GetClientRect(centreOn, &centre);
    MapWindowPoints(centreOn, parent, reinterpret_cast<POINT*>(&centre), 2);
  }
  // Signed divisions that round toward zero, and one correction per axis.
  int x = (centre.left + centre.right) / 2 - width / 2;
  int y = (centre.top + centre.bottom) / 2 - height / 2;
  if (x < area.left) {
    x = area.left;
  } else if (x + width > area.right) {
    x = area.right - width;
  }
  if (y < area.top) {
    y = area.top;
  } else if (y + height > area.bottom) {
    y = area.bottom - height;
  }
  SetWindowPos(hwnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CeDialog::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CeDialog*>(GetWindowLongW(dialog, DWL_USER));
  if (self == nullptr) {
    if (message != WM_INITDIALOG) return FALSE;
    self = reinterpret_cast<CeDialog*>(lParam);
    if (self == nullptr) return FALSE;
    SetWindowLongW(dialog, DWL_USER, reinterpret_cast<LONG_PTR>(self));
    self->onAttach(dialog);
    self->hwnd = dialog;
  }
  bool handled = false;
  LRESULT result = 0;
  {
    const CurrentMessage saved = self->currentMessage;
    self->currentMessage = CurrentMessage{dialog, message, wParam, lParam};
    try {
      result = self->processMessage(message, wParam, lParam, handled);
    } catch (...) {
      reportHandlerException(u"Window message termainated abnormally by an exception");
      // The message counts as handled, with the answer a handler gives when
      // it has nothing to say: the initialisation still gives the first
      // control the focus.
      handled = true;
      result = message == WM_INITDIALOG ? TRUE : 0;
    }
    self->currentMessage = saved;
  }
  if (handled && returnsDirectly(message)) return INT_PTR(result);
  if (handled) SetWindowLongW(dialog, DWL_MSGRESULT, result);
  if (message == WM_DESTROY) {
    if (self->previousProc != nullptr) {
      SetWindowLongW(dialog, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(self->previousProc));
    }
    SetWindowLongW(dialog, DWL_USER, 0);
    self->hwnd = nullptr;
    self->onFinalMessage(dialog);
  }
  return handled ? TRUE : FALSE;
}

}  // namespace zenta::framework
