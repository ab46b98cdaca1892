// The dialog layer's window classes, for the device's start-up.
#pragma once

namespace zenta::platform {

void registerDialogClass();
void registerMessageBoxClass();

}  // namespace zenta::platform
