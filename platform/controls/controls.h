// The device's system window classes (the standard controls) and what they
// share.
#pragma once

#include "platform/base/types.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

// Registers BUTTON, EDIT, STATIC and COMBOBOX, once.
void registerControlClasses();

// Asks the control's parent for its colours (WM_CTLCOLOR...): the parent
// may set the DC's colours and answer a background brush; without an
// answer the background is white and the text black.
HBRUSH controlColours(HWND control, HDC dc, UINT message);

// Tells the control's parent of a notification, as WM_COMMAND.
void notifyParent(HWND control, WORD code);

// Shared by the controls: the text of a window.
std::u16string windowText(HWND hwnd);

void registerStatic();
void registerButton();
void registerEdit();
void registerComboBox();

}  // namespace zenta::platform
