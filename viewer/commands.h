// What a tap on the window does: the five skin buttons (Connect, Next,
// Previous, one picture, four pictures) and the PTZ panel's buttons, and
// what lifting the stylus does (the pressed images come back up).
#pragma once

namespace zenta::viewer {

class MainWindow;

void tap(MainWindow& window, int x, int y);
void release(MainWindow& window, int x, int y);

// The Connect button's two actions.
void connect(MainWindow& window);
void disconnect(MainWindow& window);

}  // namespace zenta::viewer
