// Modal dialogs bound to objects.
#pragma once

#include "framework/ce_wnd.h"

namespace zenta::framework {

class CeDialog : public CeWindowBase, public CeMessageHandler {
 public:
  explicit CeDialog(UINT dialogTemplate) : templateId(dialogTemplate) {}
  // As for windows: a dialog still open is destroyed while this object can
  // take its last messages.
  ~CeDialog() override;

  virtual void onCancel();
  virtual void onOK();
  virtual LRESULT onInitDialog();

  // Runs the dialog of the template (this object's when 0) modally; the
  // value given to EndDialog, or -1 when the dialog cannot be made.
  INT_PTR doModal(UINT templateId, HWND owner, HINSTANCE instance);
  // Centres the dialog on a window (its parent or owner when none) and
  // keeps it inside the work area (or the parent's client area).
  void centerWindow(HWND centreOn);

  LRESULT defaultProcessing() override;
  LRESULT processMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

  WNDPROC previousProc = nullptr;
  CurrentMessage currentMessage;
  bool modal = false;
  UINT templateId;

  static INT_PTR dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace zenta::framework
