// The application object, the program's entry, and the registry key object.
#pragma once

#include <string>

#include "platform/windows.h"

namespace zenta::framework {

class CeApp {
 public:
  CeApp();
  virtual ~CeApp();
  CeApp(const CeApp&) = delete;
  CeApp& operator=(const CeApp&) = delete;

  // The message loop; the code given to the quit message.
  virtual int run();
  // 0: go on; anything else: stop at once.
  virtual int initialise(HINSTANCE previous, LPWSTR commandLine, int show) = 0;
  // Its result is the process's exit code.
  virtual int exit() = 0;

  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;
  HACCEL accelerators = nullptr;
};

// The one application object, set by its constructor.
extern CeApp* theApp;

// The owner of dialogs that are given none: the application's main window
// when it has one, else the system's active window.
HWND defaultOwnerWindow();

// Owns at most one open registry key; closes it on destruction too.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // On success the key held so far is closed and the new one held; on
  // failure the old one stays.
  LONG open(HKEY parent, const char16_t* subKey, REGSAM access);
  LONG createKey(HKEY parent, const char16_t* subKey, LPWSTR className, DWORD options,
                 REGSAM access, SECURITY_ATTRIBUTES* security, DWORD* disposition);
  // 0 when nothing is held.
  LONG close();
  // The value's bytes; the type is not returned. The empty name reads the
  // key's default value.
  LONG queryValue(void* buffer, const char16_t* name, DWORD* size);
  // A REG_SZ of the text, its terminating zero included.
  LONG setString(const char16_t* text, const char16_t* name);
  // The subkey at `index` (room for 128 characters), or false.
  bool enumSubkey(DWORD index, std::u16string& name);

  HKEY key() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace zenta::framework

// The program's entry: runs the application object.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
