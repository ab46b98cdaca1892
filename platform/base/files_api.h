// The device's file calls and its last-error value.
#pragma once

#include "platform/base/types.h"

// Files. Device paths: "\Program\NAME" is the program's own folder (where
// its executable is), any other rooted or relative path lies under the
// device root (the current folder unless the launcher option
// --device-root=DIR says otherwise). ".." is refused.
BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* attributes);
DWORD GetLastError();
void SetLastError(DWORD error);
