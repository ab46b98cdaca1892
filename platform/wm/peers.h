// Other programs on the device: FindWindowW and SetForegroundWindow reach
// the top-level windows of every program on this machine that runs the
// device layer (the viewer's single-instance rule depends on it). Each such
// program answers on a Unix socket in a per-user folder.
#pragma once

#include "platform/base/types.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

// Starts answering other programs (from the UI thread's idle time).
void startPeerService();
void stopPeerService();
// Answers waiting requests; called while the UI thread is idle.
bool servePeers();

// The one-copy rule of a program: takes a lock named `name` in the per-user
// folder and holds it until the process ends. False only while another
// process holds it, whatever that process is busy with; without a private
// folder the program runs alone (as it cannot find the others either).
bool holdProgramLock(const char* name);

// A window of another program, or nothing.
HWND findPeerWindow(LPCWSTR className, LPCWSTR windowName);
bool isPeerWindow(HWND hwnd);
bool foregroundPeerWindow(HWND hwnd);

// Called (on the UI thread) when another program brought one of this
// program's windows to the front: the device raises and restores its
// desktop window, which may be minimised or covered.
using PeerForegroundHook = void (*)();
void setPeerForegroundHook(PeerForegroundHook hook);

}  // namespace zenta::platform
