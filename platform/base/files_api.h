// The device's file calls and its last-error value.
#pragma once

#include "platform/base/types.h"

// Files. Device paths: "\Program\NAME" is the program's own folder (where
// its executable is), any other rooted or relative path lies under the
// device root (the current folder unless the launcher option
// --device-root=DIR says otherwise). ".." is refused.
struct SECURITY_ATTRIBUTES;
inline constexpr DWORD ERROR_SUCCESS = 0, ERROR_FILE_NOT_FOUND = 2, ERROR_PATH_NOT_FOUND = 3,
                       ERROR_ACCESS_DENIED = 5, ERROR_INVALID_NAME = 123,
                       ERROR_ALREADY_EXISTS = 183;
BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* attributes);
DWORD GetLastError();
void SetLastError(DWORD error);
